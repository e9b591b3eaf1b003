#include "synccore/configured_agents.hpp"

#include "host/services/local_config.hpp"

namespace tamrik::synccore {

std::optional<std::vector<std::string>> configured_agents(const std::filesystem::path& repo_root) {
  std::vector<std::string> names = services::read_local_config(repo_root).agents;
  if (names.empty()) return std::nullopt;
  return names;
}

}  // namespace tamrik::synccore
