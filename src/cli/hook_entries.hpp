#pragma once
// The entries that run after every commit (`tamrik sync --record-commit`,
// from git's post-commit hook), after every amend and rebase (`tamrik sync
// --record-rewrite KIND`, from git's post-rewrite hook) and after every agent
// tool call (`tamrik attest add --from-hook [--agent NAME]`, from the
// harness).
// They are recognised before the full command line is built, which costs
// more than the hook's own work when the tool call was not a commit. Only
// the exact argument lists the installed hooks pass are taken here; any
// other spelling goes through the full parser, which reaches the same code.

#include <optional>

namespace tamrik::cli {

// The exit status when argv is one of the hook entries (run now), else
// nullopt.
std::optional<int> run_hook_entry(int argc, const char* const* argv);

}  // namespace tamrik::cli
