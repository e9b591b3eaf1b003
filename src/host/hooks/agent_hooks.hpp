#pragma once
// The hook rows tamrik installs for each agent harness, in the harness's
// per-user hook file:
//
//   claude-code  settings.json in $CLAUDE_CONFIG_DIR (else ~/.claude)
//     PostToolUse   matcher "Bash", `if` "Bash(git *)" (the harness starts
//                   the hook only for git commands):
//                   `<tamrik> attest add --from-hook --agent claude-code`
//     SessionStart  `<tamrik> hook session-start --agent claude-code`
//   codex        hooks.json in $CODEX_HOME (else ~/.codex)
//     PostToolUse   matcher "Bash", no `if` (Codex has no such filter; the
//                   hook itself ignores everything but a git commit):
//                   `<tamrik> attest add --from-hook --agent codex`
//     SessionStart  `<tamrik> hook session-start --agent codex`
//
// The rows are per user, so they fire in every repository; the hooks do
// nothing in a repository that is not set up.

#include "host/hooks/claude_code_hooks.hpp"

#include <optional>
#include <span>
#include <string_view>

namespace tamrik::hooks::installer {

struct AgentHooks {
  std::optional<path> file;  // nullopt when neither the harness's variable nor HOME is set
  std::span<const HookRow> rows;
};

// The agents tamrik has hook rows for, in the registry's order.
std::span<const std::string_view> agents_with_hook_rows();

// The harness's hook file and our rows in it; nullopt for a harness tamrik
// has no rows for.
std::optional<AgentHooks> agent_hooks(std::string_view agent);

}  // namespace tamrik::hooks::installer
