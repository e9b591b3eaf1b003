#pragma once
// `tamrik show [COMMIT] [--json]`: one commit's record and attestation laid
// out for reading, or why it has no record and what to do about it. Exits
// 1 when the commit has no record.
//
// --json: {commit, recorded: true, record (as `log --json` gives it),
// entry (the ledger line), attestation (the archived document, or null)},
// or {commit, recorded: false, reason}.

#include "synccore/synccore.hpp"

#include <string>

namespace tamrik::cli {

struct ShowOptions {
  std::string commit = "HEAD";
  bool json = false;
};

int run_show(const ShowOptions& options, const display::output::Console& console);

}  // namespace tamrik::cli
