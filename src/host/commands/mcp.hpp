#pragma once
// Registration of tamrik's agent tool server (`tamrik mcp`) with the agents
// of a repository, each in the place its harness reads:
//   claude-code  ~/.claude.json ($CLAUDE_CONFIG_DIR/.claude.json)
//                projects["<repository>"].mcpServers.tamrik, this person's
//                alone, running the absolute program; or, when asked for,
//                the shared <repo>/.mcp.json mcpServers.tamrik running
//                `tamrik` from each person's PATH
//   codex        $CODEX_HOME/config.toml (~/.codex)  [mcp_servers.tamrik]
//                running the absolute program
// Only our own entry is added or removed. In Claude Code's files an entry
// named tamrik that is already there is left as it is: the person's keys on
// it are theirs; what setup added is recorded in the repository's local
// configuration, so uninstall removes that and nothing else. In Codex's
// file tamrik owns `command` and `args` of its table, and uninstall leaves
// a table that holds anything else. Everything else in those files stays
// as it was, byte for byte.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::commands::mcp {

struct Registration {
  std::filesystem::path file;  // where the entry is
  bool changed = false;        // the file was written
  std::string note;            // what the person should know; "" for nothing
};

// Registers the tool server with one agent for `repo_root`. Idempotent: a
// file already holding our entry is not written. nullopt for an agent
// without a known place (or Codex without CODEX_HOME and HOME). Throws for
// a file that cannot be read as its format, leaving it alone.
// `shared_file`: Claude Code's goes to the repository's .mcp.json instead of
// the per-user file. A repository set up by an earlier version has our
// entry in .mcp.json: it moves to the per-user file when it is exactly what
// that version wrote and git does not track the file, and stays otherwise.
std::optional<Registration> register_tool_server(const std::filesystem::path& repo_root, const std::string& agent,
                                                 bool shared_file, const std::filesystem::path& program);

// register_tool_server() for each of `agents` (nullopt: none configured).
// One agent's unreadable file does not keep the others unregistered. Never
// throws.
void install_mcp_for_agents(const std::filesystem::path& repo_root,
                            const std::optional<std::vector<std::string>>& agents,
                            const std::filesystem::path& program);

std::filesystem::path claude_code_mcp_file(const std::filesystem::path& repo_root);
// nullopt when neither CLAUDE_CONFIG_DIR nor HOME is set.
std::optional<std::filesystem::path> claude_code_user_file();
// nullopt when neither CODEX_HOME nor HOME is known.
std::optional<std::filesystem::path> codex_config_file();

// Remove what setup added: the files changed (a file setup created goes
// when nothing else is left in it). Throws on unreadable files.
std::vector<std::filesystem::path> remove_claude_code_registration(const std::filesystem::path& repo_root);

struct Removal {
  bool changed = false;  // the file was written or removed
  std::string kept;      // why an entry of ours stays; empty when none does
};
// Codex's entry goes only when it holds nothing of the person's. Throws on
// unreadable files.
Removal remove_codex_registration();

}  // namespace tamrik::commands::mcp
