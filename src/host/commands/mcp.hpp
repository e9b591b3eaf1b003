#pragma once
// Registration of tamrik's agent tool server with the agents of a
// repository, so an agent can sync and prepare attestations through tools.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::commands::mcp {

// Registers the tool server with `agents` (nullopt: none configured) for
// `repo_root`. Idempotent. This build has no tool server, so there is
// nothing to register: it says so at debug level and changes nothing.
void install_mcp_for_agents(const std::filesystem::path& repo_root,
                            const std::optional<std::vector<std::string>>& agents);

}  // namespace tamrik::commands::mcp
