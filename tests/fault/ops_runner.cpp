#include "fault/ops_runner.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/test_env.hpp"

extern char** environ;

namespace tamrik::testing {

namespace {

// Started child with its stdout on a pipe and its stderr in a file.
struct Child {
  pid_t pid = -1;
  int out = -1;
  fs::path err_file;
};

std::vector<std::string> child_environment(const std::optional<FaultPlan>& faults, const fs::path& report) {
  std::vector<std::string> env;
  std::string asan = "ASAN_OPTIONS=";
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    if (text.starts_with("ASAN_OPTIONS=")) {
      asan = std::string(text) + ":";
      continue;
    }
    if (!text.starts_with("LD_PRELOAD=") && !text.starts_with("TAMRIK_FAULT_")) env.emplace_back(text);
  }
  if (faults) {
    // The fault library comes before the sanitizer runtime in the search order.
    env.push_back(asan + "verify_asan_link_order=0");
    env.push_back(std::string("LD_PRELOAD=") + TAMRIK_FAULT_LIBRARY);
    env.push_back("TAMRIK_FAULT_ROOT=" + faults->root.string());
    env.push_back("TAMRIK_FAULT_NTH=" + std::to_string(faults->nth));
    env.push_back("TAMRIK_FAULT_ERRNO=" + faults->error);
    env.push_back(std::string("TAMRIK_FAULT_REPEAT=") + (faults->repeat ? "1" : "0"));
    env.push_back(std::string("TAMRIK_FAULT_NO_LOCKS=") + (faults->no_locks ? "1" : "0"));
    env.push_back("TAMRIK_FAULT_REPORT=" + report.string());
  } else if (asan != "ASAN_OPTIONS=") {
    env.push_back(asan.substr(0, asan.size() - 1));
  }
  return env;
}

Child start(const std::vector<std::string>& args, const std::vector<std::string>& env, const fs::path& err_file) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv_text{TAMRIK_LEDGER_OPS};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = env;
  std::vector<char*> envp;
  for (std::string& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // A test run in the background inherits SIGINT ignored; the helper
    // stands for a process a person interrupts, so it gets the default.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0 || ::dup2(pipe_fds[1], STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0) _exit(127);
    ::execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  ::close(pipe_fds[1]);
  return {pid, pipe_fds[0], err_file};
}

// Reads the child's stdout into `text` until `text` holds `stop` from
// position `from` on, or to EOF when `stop` is empty.
void read_until(int fd, std::string& text, std::string_view stop, size_t from = 0) {
  char buffer[4096];
  while (stop.empty() || text.find(stop, from) == std::string::npos) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
}

int wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<CountedCall> read_report(const fs::path& report) {
  std::vector<CountedCall> calls;
  std::ifstream in(report);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    CountedCall call;
    fields >> call.position >> call.call >> call.path;
    std::string flag;
    call.failed = static_cast<bool>(fields >> flag) && flag == "failed";
    calls.push_back(call);
  }
  return calls;
}

}  // namespace

OpsRun run_ledger_ops(const std::vector<std::string>& args, const std::optional<FaultPlan>& faults) {
  const TempDir scratch;
  const fs::path report = scratch / "report";
  Child child = start(args, child_environment(faults, report), scratch / "stderr");
  OpsRun run;
  read_until(child.out, run.out, "");
  ::close(child.out);
  run.exit_code = wait_for(child.pid);
  run.err = read_text(child.err_file);
  if (faults) run.calls = read_report(report);
  return run;
}

int kill_ledger_ops_after(const std::vector<std::string>& args, std::chrono::microseconds delay, int signal) {
  const TempDir scratch;
  Child child = start(args, child_environment(std::nullopt, {}), scratch / "stderr");
  std::string out;
  read_until(child.out, out, "ready\n");
  std::this_thread::sleep_for(delay);
  ::kill(child.pid, signal);
  ::close(child.out);
  return wait_for(child.pid);
}

std::chrono::microseconds time_ledger_ops(const std::vector<std::string>& args) {
  const TempDir scratch;
  Child child = start(args, child_environment(std::nullopt, {}), scratch / "stderr");
  std::string out;
  read_until(child.out, out, "ready\n");
  const auto started = std::chrono::steady_clock::now();
  // The operation ends with its one line of outcome, before the exit.
  read_until(child.out, out, "\n", out.find("ready\n") + 6);
  const auto took = std::chrono::steady_clock::now() - started;
  read_until(child.out, out, "");
  ::close(child.out);
  if (wait_for(child.pid) != 0) throw std::runtime_error("ledger_ops failed: " + out + read_text(child.err_file));
  return std::chrono::duration_cast<std::chrono::microseconds>(took);
}

}  // namespace tamrik::testing
