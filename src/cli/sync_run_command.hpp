#pragma once
// `tamrik sync`: the full sync of the repository around the current
// directory, with one line per outcome.

#include <optional>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tamrik::cli {

struct SyncRunOptions {
  std::optional<long long> team_id;  // for linking a repository the first time
};

// Adds the options of the full sync to `sync` (none of which go with
// `excluded`, the git hooks' options).
void add_sync_run_options(CLI::App& sync, const std::vector<CLI::Option*>& excluded, SyncRunOptions& options);

// Runs the sync and reports it. Exit status 0 when nothing failed, 1 when
// linking, the upload or the context refresh failed or nobody is signed in.
int run_sync_command(const SyncRunOptions& options);

}  // namespace tamrik::cli
