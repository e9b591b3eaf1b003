#include "host/commands/mcp.hpp"

#include "core/log.hpp"

namespace tamrik::commands::mcp {

namespace {

const core::Logger logger("mcp");

std::string agent_list(const std::optional<std::vector<std::string>>& agents) {
  if (!agents || agents->empty()) return "no configured agent";
  std::string names;
  for (const std::string& agent : *agents) names += (names.empty() ? "" : ", ") + agent;
  return names;
}

}  // namespace

void install_mcp_for_agents(const std::filesystem::path& repo_root,
                            const std::optional<std::vector<std::string>>& agents) {
  logger.debug("No agent tool server in this build; nothing to register for %s in %s",
               {agent_list(agents), repo_root.string()});
}

}  // namespace tamrik::commands::mcp
