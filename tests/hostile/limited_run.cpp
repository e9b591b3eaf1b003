#include "hostile/limited_run.hpp"

#include "load/marked_processes.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace tamrik::testing {

namespace {

// A command that reads without end is stopped by the sanitizer runtime
// before it can exhaust the machine: one allocation over 512 MiB, or a
// resident size over 1 GiB, ends it with an error report. The runtime
// reserves terabytes of address space, so an address-space limit cannot
// do this.
void cap_memory() {
  const char* given = std::getenv("ASAN_OPTIONS");
  const std::string options = given != nullptr && *given != '\0' ? std::string(given) + ":" : "";
  ::setenv("ASAN_OPTIONS", (options + "hard_rss_limit_mb=1024:max_allocation_size_mb=512").c_str(), 1);
}

[[noreturn]] void exec_child(const LimitedRun& run, const fs::path& io, const MarkedProcesses& marked) {
  ::setpgid(0, 0);
  const int in = ::open((io / "stdin").c_str(), O_RDONLY);
  const int out = ::open((io / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open((io / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
  if (!run.cwd.empty() && ::chdir(run.cwd.c_str()) != 0) ::_exit(126);
  for (const auto& [name, value] : run.env) ::setenv(name.c_str(), value.c_str(), 1);
  ::setenv(marked.marker().first.c_str(), marked.marker().second.c_str(), 1);
  cap_memory();
  std::vector<char*> argv;
  for (const std::string& arg : run.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

}  // namespace

LimitedResult run_limited(const LimitedRun& run, std::chrono::seconds limit) {
  const TempDir io;
  write_text(io / "stdin", run.input);
  const MarkedProcesses marked;
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) exec_child(run, io.path(), marked);
  ::setpgid(pid, pid);

  const auto deadline = std::chrono::steady_clock::now() + limit;
  LimitedResult result{.finished = true};
  int status = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("wait4 failed");
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
      }
      result.finished = false;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // What it left running, in its group or detached from it (a background
  // upload), is part of the run: it may finish within the limit, then goes.
  const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - std::chrono::steady_clock::now());
  if (!marked.wait_until_all_gone(std::max(left, std::chrono::seconds(0)))) {
    result.finished = false;
    marked.kill_all();
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.peak_rss_kib = usage.ru_maxrss;
  result.out = read_text(io / "stdout");
  result.err = read_text(io / "stderr");
  return result;
}

}  // namespace tamrik::testing
