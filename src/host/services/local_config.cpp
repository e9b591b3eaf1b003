#include "host/services/local_config.hpp"

#include "host/hooks/agent_guidance.hpp"
#include "host/services/shared.hpp"

#include <string_view>

namespace tamrik::services {

namespace {

using core::Json;

// The member `key` of `map`, or null.
const Json* member(const Json& map, std::string_view key) {
  const auto found = map.find(std::string(key));
  return found == map.end() ? nullptr : &*found;
}

std::vector<std::string> agent_names(const Json* agents) {
  std::vector<std::string> names;
  if (agents == nullptr || !agents->is_array()) return names;
  for (const Json& agent : *agents) {
    if (agent.is_string() && !agent.get_ref<const std::string&>().empty()) names.push_back(agent.get<std::string>());
  }
  return names;
}

std::map<std::string, std::string> etags_of(const Json* cache) {
  std::map<std::string, std::string> tags;
  if (cache == nullptr || !cache->is_object()) return tags;
  const Json* etags = member(*cache, "etags");
  if (etags == nullptr || !etags->is_object()) return tags;
  for (const auto& [document, tag] : etags->items()) {
    if (tag.is_string()) tags[document] = tag.get<std::string>();
  }
  return tags;
}

}  // namespace

LocalConfig read_local_config(const std::filesystem::path& repo_root) {
  return local_config_of(shared::load_local_config(repo_root));
}

LocalConfig local_config_of(const Json& map) {
  LocalConfig config;
  config.agents = agent_names(member(map, "agents"));
  config.names_agents = map.contains("agents");
  if (const Json* id = member(map, "project_id")) config.project_id = *id;
  if (const Json* id = member(map, "team_id")) config.team_id = *id;
  if (const Json* at = member(map, "installed_at"); at != nullptr && at->is_string())
    config.installed_at = at->get<std::string>();
  const Json* guidance = member(map, hooks::agent_guidance::GUIDANCE_SWITCH);
  config.guidance = guidance != nullptr && guidance->is_boolean() && guidance->get<bool>();
  if (const Json* added = member(map, kToolServerAddedKey); added != nullptr && added->is_object()) {
    config.tool_server_added = *added;
  }
  config.etags = etags_of(member(map, "cache"));
  config.empty = map.empty();
  return config;
}

}  // namespace tamrik::services
