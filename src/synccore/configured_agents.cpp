#include "synccore/configured_agents.hpp"

#include "host/services/shared.hpp"

namespace tamrik::synccore {

std::optional<std::vector<std::string>> configured_agents(const std::filesystem::path& repo_root) {
  std::vector<std::string> names = services::shared::configured_agents(services::shared::load_local_config(repo_root));
  if (names.empty()) return std::nullopt;
  return names;
}

}  // namespace tamrik::synccore
