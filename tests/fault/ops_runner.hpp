#pragma once
// Runs the ledger_ops helper as a child process: plainly, under the fault
// library (one call failed), or killed with SIGKILL part-way.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::testing {

// Which call the fault library fails. nth 0 only counts the calls.
struct FaultPlan {
  std::filesystem::path root;  // only files below it are counted
  long nth = 0;
  std::string error = "EIO";  // ENOSPC, EIO, EINTR
  bool repeat = false;        // fail every counted call from the nth on
  bool no_locks = false;      // every flock() fails with ENOLCK
};

// One counted call, as the fault library reports it.
struct CountedCall {
  long position = 0;
  std::string call;  // open, write, fsync, fdatasync, close, rename
  std::string path;
  bool failed = false;
};

struct OpsRun {
  int exit_code = -1;  // 128 + signal when a signal ended it
  std::string out;
  std::string err;
  std::vector<CountedCall> calls;  // empty unless run under the fault library
};

// Runs `ledger_ops args...` to the end.
OpsRun run_ledger_ops(const std::vector<std::string>& args, const std::optional<FaultPlan>& faults = std::nullopt);

// Starts `ledger_ops args...`, waits until it says "ready", lets it run for
// `delay`, then sends it `signal`. Returns its exit code: 128 + the signal
// when the signal came first, else whatever it exited with.
int kill_ledger_ops_after(const std::vector<std::string>& args, std::chrono::microseconds delay, int signal = 9);

// How long the operation of `ledger_ops args...` takes, from "ready" to its
// line of outcome. Throws when it fails.
std::chrono::microseconds time_ledger_ops(const std::vector<std::string>& args);

}  // namespace tamrik::testing
