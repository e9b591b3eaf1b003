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

// The changes to this process's environment the helper gets: the fault
// plan, or none of a plan's variables when there is no plan.
std::vector<std::pair<std::string, std::string>> child_environment(const std::optional<FaultPlan>& faults,
                                                                   const fs::path& report) {
  std::vector<std::pair<std::string, std::string>> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    if (text.starts_with("LD_PRELOAD=") || text.starts_with("TAMRIK_FAULT_")) {
      env.emplace_back(std::string(text.substr(0, text.find('='))), "");
    }
  }
  if (!faults) return env;
  const char* asan = std::getenv("ASAN_OPTIONS");
  // The fault library comes before the sanitizer runtime in the search order.
  env.emplace_back("ASAN_OPTIONS",
                   (asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") + "verify_asan_link_order=0");
  env.emplace_back("LD_PRELOAD", TAMRIK_FAULT_LIBRARY);
  env.emplace_back("TAMRIK_FAULT_ROOT", faults->root.string());
  env.emplace_back("TAMRIK_FAULT_NTH", std::to_string(faults->nth));
  env.emplace_back("TAMRIK_FAULT_ERRNO", faults->error);
  env.emplace_back("TAMRIK_FAULT_REPEAT", faults->repeat ? "1" : "0");
  env.emplace_back("TAMRIK_FAULT_NO_LOCKS", faults->no_locks ? "1" : "0");
  env.emplace_back("TAMRIK_FAULT_REPORT", report.string());
  return env;
}

// Starts the helper with its stdout on a pipe and its stderr in `err_file`.
// A test run in the background inherits SIGINT ignored; the helper stands
// for a process a person interrupts, so it gets the default (spawn() sees
// to that).
Child start(const std::vector<std::string>& args, const std::vector<std::pair<std::string, std::string>>& env,
            const fs::path& err_file) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (err < 0) throw std::runtime_error("cannot create " + err_file.string());
  std::vector<std::string> argv{TAMRIK_LEDGER_OPS};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = spawn({.argv = argv, .out = pipe_fds[1], .err = err, .env = env});
  ::close(err);
  ::close(pipe_fds[1]);
  if (pid < 0) throw std::runtime_error(std::string("cannot start ledger_ops: ") + std::strerror(errno));
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
  run.exit_code = wait_for_exit(child.pid);
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
  return wait_for_exit(child.pid);
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
  if (wait_for_exit(child.pid) != 0) throw std::runtime_error("ledger_ops failed: " + out + read_text(child.err_file));
  return std::chrono::duration_cast<std::chrono::microseconds>(took);
}

}  // namespace tamrik::testing
