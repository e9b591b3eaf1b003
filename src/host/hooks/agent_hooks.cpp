#include "host/hooks/agent_hooks.hpp"

#include "host/agents/transcript_files.hpp"

#include <array>

namespace tamrik::hooks::installer {

namespace {

// The session-start row also fires on "fork" (Claude Code 2.1.214 and
// later; older versions report a fork as "resume").
constexpr std::array<HookRow, 2> kClaudeCodeRows = {{
    {"PostToolUse", "Bash", "attest add --from-hook --agent claude-code", "Bash(git *)", 30},
    {"SessionStart", "startup|resume|clear|compact|fork", "hook session-start --agent claude-code", "", 60},
}};

// Codex's session sources have no "fork".
constexpr std::array<HookRow, 2> kCodexRows = {{
    {"PostToolUse", "Bash", "attest add --from-hook --agent codex", "", 30},
    {"SessionStart", "startup|resume|clear|compact", "hook session-start --agent codex", "", 60},
}};

constexpr std::array<std::string_view, 2> kAgents = {"claude-code", "codex"};

std::optional<path> file_in(const std::optional<path>& home, std::string_view name) {
  if (!home) return std::nullopt;
  return *home / name;
}

}  // namespace

std::span<const std::string_view> agents_with_hook_rows() { return kAgents; }

std::optional<AgentHooks> agent_hooks(std::string_view agent) {
  if (agent == "claude-code") return AgentHooks{file_in(agents::claude_code_home(), "settings.json"), kClaudeCodeRows};
  if (agent == "codex") return AgentHooks{file_in(agents::codex_home(), "hooks.json"), kCodexRows};
  return std::nullopt;
}

}  // namespace tamrik::hooks::installer
