#pragma once
// Our server's table in Codex's config.toml, as line edits: the text
// outside [mcp_servers.tamrik] (and its subtables) is kept byte for byte.

#include <optional>
#include <string>

namespace tamrik::commands::mcp {

// The new text with our table in place, or nullopt when it is already there
// exactly.
std::optional<std::string> codex_config_with_table(const std::string& text);
// The new text without our table, or nullopt when there is none.
std::optional<std::string> codex_config_without_table(const std::string& text);

}  // namespace tamrik::commands::mcp
