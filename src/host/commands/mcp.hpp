#pragma once
// Registration of tamrik's agent tool server (`tamrik mcp`) with the agents
// of a repository, each in the place its harness reads:
//   claude-code  <repo>/.mcp.json      mcpServers.tamrik
//   codex        $CODEX_HOME/config.toml (~/.codex)  [mcp_servers.tamrik]
// Only our own entry is added, replaced or removed; everything else in those
// files stays as it was, byte for byte in the TOML file.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::commands::mcp {

struct Registration {
  std::filesystem::path file;  // where the entry is
  bool changed = false;        // the file was written
};

// Registers the tool server with one agent for `repo_root`. Idempotent: a
// file already holding our entry is not written. nullopt for an agent
// without a known place (or Codex without CODEX_HOME and HOME). Throws for
// a file that cannot be read as its format, leaving it alone.
std::optional<Registration> register_tool_server(const std::filesystem::path& repo_root, const std::string& agent);

// register_tool_server() for each of `agents` (nullopt: none configured).
// One agent's unreadable file does not keep the others unregistered. Never
// throws.
void install_mcp_for_agents(const std::filesystem::path& repo_root,
                            const std::optional<std::vector<std::string>>& agents);

std::filesystem::path claude_code_mcp_file(const std::filesystem::path& repo_root);
// nullopt when neither CODEX_HOME nor HOME is known.
std::optional<std::filesystem::path> codex_config_file();

// Remove our entry; true when a file changed. A file left with nothing
// else was ours and goes. Throw on unreadable files.
bool remove_claude_code_registration(const std::filesystem::path& repo_root);

struct Removal {
  bool changed = false;  // the file was written or removed
  std::string kept;      // why an entry of ours stays; empty when none does
};
// Codex's entry goes only when it holds nothing of the person's.
Removal remove_codex_registration();

}  // namespace tamrik::commands::mcp
