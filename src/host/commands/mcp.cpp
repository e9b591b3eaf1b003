#include "host/paths.hpp"
#include "host/commands/mcp.hpp"

#include "host/agents/transcript_files.hpp"
#include "host/commands/codex_mcp_table.hpp"
#include "host/commands/mcp_json_entry.hpp"
#include "host/utils/user_file.hpp"
#include "core/log.hpp"

namespace tamrik::commands::mcp {

namespace {

using std::filesystem::path;
namespace user_file = utils::user_file;

const core::Logger logger("mcp");

constexpr mode_t kProjectFileMode = 0644;
constexpr mode_t kUserConfigMode = 0600;

Registration register_claude_code(const path& repo_root) {
  const path file = claude_code_mcp_file(repo_root);
  const std::optional<std::string> text = mcp_json_with_entry(user_file::read_if_exists(file));
  if (text) user_file::replace(file, *text, kProjectFileMode);
  return {file, text.has_value()};
}

std::optional<Registration> register_codex() {
  const std::optional<path> file = codex_config_file();
  if (!file) return std::nullopt;
  const std::optional<std::string> text =
      codex_config_with_server(user_file::read_if_exists(*file).value_or(""), "tamrik", file->string());
  if (text) user_file::replace(*file, *text, kUserConfigMode);
  return Registration{*file, text.has_value()};
}

}  // namespace

path claude_code_mcp_file(const path& repo_root) { return paths::repository_file(repo_root, ".mcp.json"); }

std::optional<path> codex_config_file() {
  const std::optional<path> home = agents::codex_home();
  if (!home) return std::nullopt;
  return *home / "config.toml";
}

std::optional<Registration> register_tool_server(const path& repo_root, const std::string& agent) {
  if (agent == "claude-code") return register_claude_code(repo_root);
  if (agent == "codex") return register_codex();
  return std::nullopt;
}

void install_mcp_for_agents(const path& repo_root, const std::optional<std::vector<std::string>>& agents) {
  if (!agents) return;
  for (const std::string& agent : *agents) {
    try {
      const std::optional<Registration> registration = register_tool_server(repo_root, agent);
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

bool remove_claude_code_registration(const path& repo_root) {
  const path file = claude_code_mcp_file(repo_root);
  const std::optional<std::string> current = user_file::read_if_exists(file);
  if (!current) return false;
  const std::optional<std::string> text = mcp_json_without_entry(*current);
  if (!text) return false;
  // A file that held nothing but our entry was ours; it goes.
  if (text->empty()) {
    user_file::remove(file);
  } else {
    user_file::replace(file, *text, kProjectFileMode);
  }
  return true;
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
