#include "host/paths.hpp"
#include "host/commands/mcp.hpp"

#include "host/agents/transcript_files.hpp"
#include "host/commands/codex_mcp_table.hpp"
#include "host/commands/mcp_json_entry.hpp"
#include "host/services/setup_list.hpp"
#include "host/services/local_config.hpp"
#include "host/services/shared.hpp"
#include "host/utils/json_file.hpp"
#include "host/utils/user_file.hpp"
#include "core/log.hpp"
#include "core/program_search.hpp"

#include <algorithm>

namespace tamrik::commands::mcp {

namespace {

using core::Json;
using std::filesystem::path;
namespace json_file = utils::json_file;
namespace user_file = utils::user_file;

const core::Logger logger("mcp");

constexpr mode_t kProjectFileMode = 0644;
constexpr mode_t kUserConfigMode = 0600;

// What setup added, under services::kToolServerAddedKey in the local
// configuration: per file, how many steps of the entry's path existed
// before (-1: the file itself was created).
constexpr const char* kSharedFile = "mcp_json";
constexpr const char* kUserFile = "claude_json";

// nullopt for a repository set up before this record was kept.
std::optional<Json> load_added(const path& repo_root) {
  return services::read_local_config(repo_root).tool_server_added;
}

void save_added(const path& repo_root, const std::optional<Json>& added) {
  Json config = services::shared::load_local_config(repo_root);
  if (added) {
    if (config.contains(services::kToolServerAddedKey) && config[services::kToolServerAddedKey] == *added) return;
    config[services::kToolServerAddedKey] = *added;
  } else if (config.erase(services::kToolServerAddedKey) == 0) {
    return;
  }
  services::shared::save_local_config(repo_root, config);
}

const core::JsonPath kSharedEntry = {"mcpServers", "tamrik"};

core::JsonPath user_entry(const path& repo_root) {
  std::error_code error;
  const path real = std::filesystem::weakly_canonical(repo_root, error);
  return {"projects", (error ? repo_root : real).string(), "mcpServers", "tamrik"};
}

// Adds `value` at `entry` in `file`; records in `added[key]` what existed.
bool add_to(const path& file, const core::JsonPath& entry, const Json& value, mode_t mode, Json& added,
            const char* key) {
  const bool existed = user_file::read_if_exists(file).has_value();
  core::JsonTextEditor editor = json_file::open(file);
  const std::optional<size_t> steps = add_entry(editor, entry, value);
  if (!steps) return false;
  json_file::save(file, editor, mode);
  added[key] = existed ? static_cast<int>(*steps) : -1;
  return true;
}

bool remove_from(const path& file, const core::JsonPath& entry, int existed, mode_t mode) {
  if (!user_file::read_if_exists(file)) return false;
  core::JsonTextEditor editor = json_file::open(file);
  if (!remove_entry(editor, entry, static_cast<size_t>(std::max(existed, 0)))) return false;
  json_file::save(file, editor, mode, existed < 0);
  return true;
}

// An entry the versions before this record wrote into .mcp.json, exactly
// as they wrote it, in a file git does not track: ours to move.
bool is_earlier_versions_entry(const path& repo_root) {
  const path file = claude_code_mcp_file(repo_root);
  if (!user_file::read_if_exists(file)) return false;
  return json_file::open(file).get(kSharedEntry) == shared_entry() &&
         !services::setup_list::history_holds(repo_root, ".mcp.json");
}

std::optional<core::JsonTextEditor> readable_shared_file(const path& repo_root) {
  try {
    return json_file::open(claude_code_mcp_file(repo_root));
  } catch (const core::JSONDecodeError&) {
    return std::nullopt;
  }
}

Registration register_shared(const path& repo_root, Json& added) {
  const path file = claude_code_mcp_file(repo_root);
  Registration registration{file, add_to(file, kSharedEntry, shared_entry(), kProjectFileMode, added, kSharedFile)};
  if (registration.changed && !core::find_on_path("tamrik")) {
    registration.note = "`tamrik` is not on PATH, so Claude Code cannot start the tool server from " +
                        file.filename().string() +
                        "; install tamrik (scripts/install) and put its bin directory on PATH";
  }
  return registration;
}

Registration register_per_user(const path& repo_root, const path& program, Json& added, bool earlier_setup) {
  const path shared_file = claude_code_mcp_file(repo_root);
  const std::optional<core::JsonTextEditor> project = readable_shared_file(repo_root);
  const bool in_shared_file = project && holds_entry(*project, kSharedEntry);
  const std::optional<path> file = claude_code_user_file();
  if (!file) return {shared_file, false, "neither CLAUDE_CONFIG_DIR nor HOME is set"};
  const bool movable = in_shared_file && earlier_setup && is_earlier_versions_entry(repo_root);
  if (in_shared_file && !movable) {
    // Claude Code already finds a server named tamrik in the project file:
    // the person's, the team's, or ours when asked for.
    if (added.contains(kSharedFile)) return {shared_file, false, ""};
    return {shared_file, false,
            earlier_setup ? "the entry named tamrik in .mcp.json is left as it is: git tracks the file, or the entry "
                            "was edited after setup wrote it"
                          : "the entry named tamrik in .mcp.json is left as it is: setup did not add it"};
  }
  Registration registration{
      *file, add_to(*file, user_entry(repo_root), per_user_entry(program), kUserConfigMode, added, kUserFile)};
  if (in_shared_file) {
    // Moved out of the working tree: the file goes when nothing else is in it.
    remove_from(shared_file, kSharedEntry, -1, kProjectFileMode);
    registration.changed = true;
    registration.note = "moved from .mcp.json";
  }
  return registration;
}

Registration register_claude_code(const path& repo_root, bool shared_file, const path& program) {
  const std::optional<Json> recorded = load_added(repo_root);
  Json added = recorded.value_or(Json::object());
  Registration registration = shared_file ? register_shared(repo_root, added)
                                          : register_per_user(repo_root, program, added, !recorded.has_value());
  save_added(repo_root, added);
  return registration;
}

std::optional<Registration> register_codex(const path& program) {
  const std::optional<path> file = codex_config_file();
  if (!file) return std::nullopt;
  const std::optional<std::string> text =
      codex_config_with_server(user_file::read_if_exists(*file).value_or(""), program.string(), file->string());
  if (text) user_file::replace(*file, *text, kUserConfigMode);
  return Registration{*file, text.has_value()};
}

}  // namespace

path claude_code_mcp_file(const path& repo_root) { return paths::repository_file(repo_root, ".mcp.json"); }

std::optional<path> claude_code_user_file() {
  const std::optional<path> dir = agents::harness_home("CLAUDE_CONFIG_DIR", "");
  if (!dir) return std::nullopt;
  return *dir / ".claude.json";
}

std::optional<path> codex_config_file() {
  const std::optional<path> home = agents::codex_home();
  if (!home) return std::nullopt;
  return *home / "config.toml";
}

std::optional<Registration> register_tool_server(const path& repo_root, const std::string& agent, bool shared_file,
                                                 const path& program) {
  if (agent == "claude-code") return register_claude_code(repo_root, shared_file, program);
  if (agent == "codex") return register_codex(program);
  return std::nullopt;
}

void install_mcp_for_agents(const path& repo_root, const std::optional<std::vector<std::string>>& agents,
                            const path& program) {
  if (!agents) return;
  for (const std::string& agent : *agents) {
    try {
      const std::optional<Registration> registration = register_tool_server(repo_root, agent, false, program);
      if (registration && registration->changed) {
        logger.debug("Registered the tool server in %s", {registration->file.string()});
      }
    } catch (const UneditableCodexConfig& e) {
      // Only the person can fix this one: say so on every sync.
      logger.warning("%s", {e.what()});
    } catch (const std::exception& e) {
      logger.debug("Could not register the tool server for %s", {agent}, e);
    }
  }
}

std::vector<path> remove_claude_code_registration(const path& repo_root) {
  const std::optional<Json> added = load_added(repo_root);
  std::vector<path> changed;
  const path shared_file = claude_code_mcp_file(repo_root);
  if (!added) {
    // Set up by an earlier version, which wrote only this entry.
    if (is_earlier_versions_entry(repo_root) && remove_from(shared_file, kSharedEntry, -1, kProjectFileMode)) {
      changed.push_back(shared_file);
    }
    return changed;
  }
  if (added->contains(kSharedFile) &&
      remove_from(shared_file, kSharedEntry, (*added)[kSharedFile].get<int>(), kProjectFileMode)) {
    changed.push_back(shared_file);
  }
  const std::optional<path> per_user = claude_code_user_file();
  if (added->contains(kUserFile) && per_user &&
      remove_from(*per_user, user_entry(repo_root), (*added)[kUserFile].get<int>(), kUserConfigMode)) {
    changed.push_back(*per_user);
  }
  save_added(repo_root, std::nullopt);
  return changed;
}

Removal remove_codex_registration() {
  const std::optional<path> file = codex_config_file();
  if (!file) return {};
  const std::optional<std::string> current = user_file::read_if_exists(*file);
  if (!current) return {};
  const CodexRemoval removal = codex_config_without_server(*current, file->string());
  if (removal.text && removal.text->empty()) {
    user_file::remove(*file);
  } else if (removal.text) {
    user_file::replace(*file, *removal.text, kUserConfigMode);
  }
  return {removal.text.has_value(), removal.kept};
}

}  // namespace tamrik::commands::mcp
