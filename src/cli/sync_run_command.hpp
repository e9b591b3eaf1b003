#pragma once
// `tamrik sync`: the full sync of the repository around the current
// directory, with one line per outcome.

#include <chrono>
#include <optional>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tamrik::cli {

// The most a whole sync waits for the platform unless told otherwise.
inline constexpr std::chrono::seconds kSyncDeadline{60};

struct SyncRunOptions {
  std::optional<long long> team_id;  // for linking a repository the first time
  // The most the run waits for the platform, all its requests together: a
  // request still under way then is cut off and none is started after it.
  std::chrono::milliseconds deadline = kSyncDeadline;
  // A line on stderr naming the request the run waits for, when stderr is
  // a terminal (cli/waiting_line.hpp).
  bool show_waiting = false;
};

// Adds the options of the full sync to `sync` (none of which go with
// `excluded`, the git hooks' options).
void add_sync_run_options(CLI::App& sync, const std::vector<CLI::Option*>& excluded, SyncRunOptions& options);

// Runs the sync and reports it, within `options.deadline`. Exit status 0
// when nothing failed, 1 when linking, the upload or the context refresh
// failed, nobody is signed in, or the platform did not answer in time.
int run_sync_command(const SyncRunOptions& options);

}  // namespace tamrik::cli
