#pragma once
// Claude Code's transcript store:
//   $CLAUDE_CONFIG_DIR (or ~/.claude)/projects/<key>/<session id>.jsonl
//   .../projects/<key>/<session id>/subagents/agent-<id>.jsonl

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::agents {

// Longer keys get a hashed suffix we cannot recompute.
inline constexpr std::size_t kMaxClaudeProjectKey = 200;

// The directory name Claude Code gives a project directory: every character
// outside [A-Za-z0-9] becomes '-', one per UTF-16 code unit, so
// "/home/u/my_repo" is "-home-u-my-repo". Lossy, so never decoded back.
std::string claude_project_key(std::string_view directory);

// The main transcript of `session_id`: first under the key of `repo_root`,
// then under any project (a session started in a sub-directory, or a key too
// long to recompute). nullopt for an unknown or unsafe id.
std::optional<std::filesystem::path> find_claude_transcript(const std::filesystem::path& repo_root,
                                                            std::string_view session_id);

}  // namespace tamrik::agents
