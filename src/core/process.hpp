#pragma once
// Runs a child process from an argument list (never a shell) and collects
// its output, within a time limit.
//
// Guarantees: no zombie (every child is reaped), no leaked descriptor (all
// our pipe ends are close-on-exec and closed before returning), no deadlock
// when the child fills both pipes (they are drained together with poll).

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrik::core {

enum class StdinMode { devnull, inherit };

struct ProcessOptions {
  // Working directory of the child; empty means ours.
  std::filesystem::path cwd;
  // Zero means no limit. When it passes the child is killed with SIGKILL
  // (its whole process group when new_process_group is set). The limit
  // covers reading the output to its end: a child that has exited while
  // something it started still holds its output open is timed out too
  // (its exit code kept, that group killed).
  std::chrono::milliseconds timeout{10'000};
  StdinMode stdin_mode = StdinMode::devnull;
  // Captured into ProcessResult::err when true, else sent to /dev/null.
  bool capture_stderr = true;
  // Start the child in a new session (and so a new process group), so a
  // timeout kills everything it started too.
  bool new_process_group = false;
  // Added to (or replacing entries of) our environment for the child.
  std::vector<std::pair<std::string, std::string>> env;
};

enum class ProcessStatus {
  exited,           // ran and exited; see exit_code
  signaled,         // killed by a signal we did not send; see signal
  timed_out,        // we killed it at the time limit
  could_not_start,  // spawn failed (no such program, bad cwd...); see start_error
};

struct ProcessResult {
  ProcessStatus status = ProcessStatus::could_not_start;
  int exit_code = -1;
  int signal = 0;
  int start_error = 0;  // errno value returned by the spawn
  std::string out;      // raw bytes of stdout
  std::string err;      // raw bytes of stderr (when captured)

  bool ok() const { return status == ProcessStatus::exited && exit_code == 0; }
  // stdout decoded as UTF-8 with U+FFFD for every invalid sequence.
  std::string out_text() const;
};

// Looks `argv[0]` up in PATH when it has no slash. Never throws for the
// child's failures; they are in the result. Throws OSError only when we
// cannot make pipes at all.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// UTF-8 with every invalid sequence replaced by U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);

}  // namespace tamrik::core
