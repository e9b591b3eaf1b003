#pragma once
// What `tamrik setup` puts in place so that every trigger records commits,
// and takes away again with `tamrik setup --uninstall`:
//
//   .tamrik/.platform/config.yaml   `installed_at` (UTC, when first set up)
//                                   and `agents` (the harnesses to hook)
//   .git/info/exclude               tamrik's block: .tamrik stays local
//                                   (an earlier setup's .gitignore block
//                                   moves there)
//   .tamrik/example-attestation.yaml
//   post-commit hook                `tamrik sync --record-commit`, where
//                                   the hook manager expects it
//                                   (hook_place.hpp)
//   post-rewrite hook               `tamrik sync --record-rewrite`
//   agent hook rows                 per user; Claude Code's and Codex's
//                                   (agent_hooks.hpp)
//   agent tool server               `tamrik mcp` where each agent looks
//                                   for it (commands/mcp.hpp); Claude
//                                   Code's per user unless asked for in
//                                   .mcp.json
//   agent guidance                  with `guidance: true` only: tamrik's
//                                   block in CLAUDE.md, AGENTS.md...
//
// Every step is idempotent (a second run changes nothing) and leaves the
// user's own content alone. The ledger and the attestation archive are
// records, not setup: uninstall never removes them.

#include "host/services/checkout.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::hooks::installer {

using std::filesystem::path;

// The tamrik executable of this process: what the hooks will run.
path current_program();

// The agents whose harness is installed on this machine (its directory in
// the home directory, or its program on PATH), in the registry's order.
std::vector<std::string> installed_harnesses();

enum class Outcome { changed, unchanged, skipped, failed };

struct StepReport {
  std::string name;  // "post-commit hook"
  Outcome outcome = Outcome::unchanged;
  std::string detail;  // where it went, or why it was skipped or failed
};

struct SetupReport {
  std::vector<std::string> agents;  // the configured agents
  std::vector<StepReport> steps;
  std::vector<std::string> notes;  // what the person should know besides the steps
  bool ok() const;
};

struct SetupOptions {
  // Harnesses to hook; nullopt keeps the configured ones, or on a first
  // setup takes installed_harnesses().
  std::optional<std::vector<std::string>> agents;
  path program = current_program();
  // Also write the guidance blocks into the agents' instruction files, and
  // have sync keep them (`guidance: true` in the configuration).
  bool guidance = false;
  // Claude Code's tool server goes to the repository's shared .mcp.json
  // rather than this person's ~/.claude.json.
  bool shared_mcp_file = false;
};

struct UninstallOptions {
  // Remove the per-user agent rows even while other repositories are set up.
  bool all = false;
};

// Sets tamrik up in the checkout's repository: its files and the set-up
// list go to the home, whichever worktree this runs in; the post-commit
// hook goes where git runs hooks for this checkout (the common hooks
// directory, or core.hooksPath). A step that fails is reported and the
// others still run. Never throws for a failing step.
SetupReport setup_repository(const services::Checkout& checkout, const SetupOptions& options = {});

// Removes what setup_repository() adds: the configuration keys it wrote
// (the file too when nothing else is in it), the example attestation, the
// git hook blocks, the repository's tool-server entry and the guidance
// blocks; the ignore entry of .tamrik stays while the ledger does. The
// per-user agent rows and Codex's tool server go only with the last set-up
// repository (a note says when they stay), or with `all`.
SetupReport uninstall_repository(const services::Checkout& checkout, const UninstallOptions& options = {});

// Installs the agent hook rows of `agents` (nullopt: installed_harnesses())
// running `program`. Rows are per user; `repo_root` names the repository
// the call is made for. One report per agent; throws nothing.
std::vector<StepReport> _install_session_start_hook(const path& repo_root,
                                                    const std::optional<std::vector<std::string>>& agents,
                                                    const path& program = current_program());

// Whether the agent's hook rows are in place; nullopt for a harness tamrik
// has no rows for.
std::optional<bool> agent_hooks_installed(const std::string& agent);

}  // namespace tamrik::hooks::installer
