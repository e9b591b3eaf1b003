#include "host/services/local_config.hpp"

#include "host/hooks/agent_guidance.hpp"
#include "host/services/shared.hpp"

#include <string_view>

namespace tamrik::services {

namespace {

using core::Json;

std::vector<std::string> agent_names(const Json& agents) {
  std::vector<std::string> names;
  if (!agents.is_array()) return names;
  for (const Json& agent : agents) {
    if (agent.is_string() && !agent.get_ref<const std::string&>().empty()) names.push_back(agent.get<std::string>());
  }
  return names;
}

std::map<std::string, std::string> etags_of(const Json& etags) {
  std::map<std::string, std::string> tags;
  if (!etags.is_object()) return tags;
  for (const auto& [document, tag] : etags.items()) {
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
  config.agents = agent_names(core::member(map, "agents"));
  config.names_agents = map.contains("agents");
  config.project_id = core::member(map, "project_id");
  config.team_id = core::member(map, "team_id");
  config.installed_at = core::text_member(map, "installed_at");
  const Json& guidance = core::member(map, hooks::agent_guidance::GUIDANCE_SWITCH);
  config.guidance = guidance.is_boolean() && guidance.get<bool>();
  if (const Json& added = core::member(map, kToolServerAddedKey); added.is_object()) config.tool_server_added = added;
  config.etags = etags_of(core::member(core::member(map, "cache"), "etags"));
  config.empty = map.empty();
  return config;
}

}  // namespace tamrik::services
