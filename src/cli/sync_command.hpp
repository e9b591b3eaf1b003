#pragma once
// `tamrik sync`: the full sync (sync_run_command.hpp), and `tamrik sync
// --record-commit` and `--record-rewrite`, what the git hooks run.

namespace tamrik::cli {

// `tamrik sync --record-commit`: records HEAD, starts the upload in the
// background, prints nothing, and returns 0 whatever happened.
int record_commit_from_hook();

// `tamrik sync --record-rewrite <kind>`: carries the records of the commits
// git lists on stdin to their new commits (synccore/rewritten_history.hpp),
// starts the upload in the background, prints nothing, and returns 0
// whatever happened.
int record_rewrite_from_hook();

}  // namespace tamrik::cli
