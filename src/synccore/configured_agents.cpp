#include "synccore/configured_agents.hpp"

#include "host/services/shared.hpp"

namespace tamrik::synccore {

std::optional<std::vector<std::string>> configured_agents(const std::filesystem::path& repo_root) {
  const core::Json config = services::shared::load_local_config(repo_root);
  const auto agents = config.find("agents");
  if (agents == config.end() || !agents->is_array()) return std::nullopt;
  std::vector<std::string> names;
  for (const core::Json& agent : *agents) {
    if (agent.is_string() && !agent.get<std::string>().empty()) names.push_back(agent.get<std::string>());
  }
  if (names.empty()) return std::nullopt;
  return names;
}

}  // namespace tamrik::synccore
