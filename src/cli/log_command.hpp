#pragma once
// `tamrik log [REVISION-RANGE] [-n N] [filters] [--json]`: the recorded
// commits, the latest recorded first (the ledger's order: a commit the
// catch-up recorded late comes where it was recorded), one line each, like
// `git log --oneline`. With a
// revision range, exactly the range's commits in git's order, a commit
// without a record shown as such.
//
// --json prints one JSON object per line (as the ledger itself is kept):
// a record as record_json() gives it, or for a commit of the range without
// one {commit, date, subject, recorded: false}.

#include "attest/command_line.hpp"

namespace tamrik::cli {

void add_log_command(CLI::App& parent, attest::SelectedCommand& selected);

}  // namespace tamrik::cli
