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
#include <cstring>
#include <stdexcept>
#include <thread>

namespace tamrik::testing {

namespace {

// A command that reads without end is stopped by the sanitizer runtime
// before it can exhaust the machine: one allocation over 512 MiB, or a
// resident size over 1 GiB, ends it with an error report. The runtime
// reserves terabytes of address space, so an address-space limit cannot
// do this. These are the sanitizer's options that say so.
std::string capped_memory() {
  const char* given = std::getenv("ASAN_OPTIONS");
  const std::string options = given != nullptr && *given != '\0' ? std::string(given) + ":" : "";
  return options + "hard_rss_limit_mb=1024:max_allocation_size_mb=512";
}

int open_or_throw(const fs::path& file, int flags) {
  const int fd = ::open(file.c_str(), flags | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot open " + file.string());
  return fd;
}

}  // namespace

LimitedResult run_limited(const LimitedRun& run, std::chrono::seconds limit) {
  const TempDir io;
  write_text(io / "stdin", run.input);
  const MarkedProcesses marked;
  std::vector<std::pair<std::string, std::string>> env = run.env;
  env.push_back(marked.marker());
  env.emplace_back("ASAN_OPTIONS", capped_memory());
  const int in = open_or_throw(io / "stdin", O_RDONLY);
  const int out = open_or_throw(io / "stdout", O_WRONLY | O_CREAT | O_TRUNC);
  const int err = open_or_throw(io / "stderr", O_WRONLY | O_CREAT | O_TRUNC);
  const pid_t pid = spawn(
      {.argv = run.argv, .in = in, .out = out, .err = err, .cwd = run.cwd, .env = env, .own_process_group = true});
  ::close(in);
  ::close(out);
  ::close(err);
  if (pid < 0) throw std::runtime_error("cannot start " + run.argv.front() + ": " + std::strerror(errno));

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
