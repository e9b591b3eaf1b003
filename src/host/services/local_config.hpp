#pragma once
// The repository's local configuration as its readers take it: read once
// (shared::load_local_config: the current layout first, then the older
// ones; confined, capped), each value kept only when it has the type tamrik
// writes, so every reader applies the same rules. Writers change the map
// itself (shared::save_local_config) and keep every key they do not own.

#include "core/json.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::services {

// What setup added for the agents' tool server, kept so that uninstall
// takes away only that (host/commands/mcp.cpp writes it).
inline constexpr const char* kToolServerAddedKey = "tool_server_added";

struct LocalConfig {
  // `agents`: its text entries in order, empty ones left out.
  std::vector<std::string> agents;
  bool names_agents = false;  // the key is there, even with no usable entry
  // `project_id` and `team_id` as written (a number, or text holding one,
  // which each reader checks as it needs); null when absent.
  core::Json project_id;
  core::Json team_id;
  std::optional<std::string> installed_at;  // `installed_at`, UTC text
  bool guidance = false;                    // `guidance: true`
  // kToolServerAddedKey, when a map.
  std::optional<core::Json> tool_server_added;
  // `cache.etags`: document name -> the platform's tag, text ones only.
  std::map<std::string, std::string> etags;
  bool empty = true;  // no configuration, or an empty map
};

// Throws what shared::load_local_config throws for a configuration that
// cannot be read or does not parse.
LocalConfig read_local_config(const std::filesystem::path& repo_root);

// The values of a map already read, for a writer that reads the map to
// change it.
LocalConfig local_config_of(const core::Json& map);

}  // namespace tamrik::services
