#pragma once
// `tamrik sync`: the full sync of the repository around the current
// directory, with one line per outcome.

#include "synccore/synccore.hpp"

#include <chrono>
#include <optional>

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

// Runs the sync and reports it, within `options.deadline`. Exit status 0
// when nothing failed, 1 when linking, the upload or the context refresh
// failed, nobody is signed in, or the platform did not answer in time.
int run_sync_command(const SyncRunOptions& options, const display::output::Console& console);

}  // namespace tamrik::cli
