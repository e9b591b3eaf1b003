#pragma once
// Our server's entry in Codex's config.toml, as text edits. The file is
// read with a TOML parser to find what is there; the edit touches only the
// keys tamrik owns (`command` and `args` of [mcp_servers.tamrik]), so
// comments, layout and the person's own keys stay byte for byte. An edit
// that would change anything else, or a file that is not TOML, is refused.

#include "core/errors.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tamrik::commands::mcp {

// Codex's config.toml cannot be edited safely: not TOML, or our entry is in
// a form tamrik does not rewrite. The message says what to do by hand; the
// file is left as it was.
class UneditableCodexConfig : public core::Error {
 public:
  explicit UneditableCodexConfig(const std::string& message) : Error("UneditableCodexConfig", message) {}
};

// The new text with `command = <command>` and `args = ["mcp"]` in our
// table, or nullopt when they are already there. `file` names the file in
// messages. Throws UneditableCodexConfig.
std::optional<std::string> codex_config_with_server(const std::string& text, std::string_view command,
                                                    const std::string& file);

struct CodexRemoval {
  std::optional<std::string> text;  // the new text; nullopt: leave the file
  std::string kept;                 // why an entry of ours stays, when one does
};

// Takes out the table tamrik adds, when it holds nothing of the person's:
// no other key, no comment of their own, written as a [mcp_servers.tamrik]
// table. Anything else stays, and `kept` says why. Throws
// UneditableCodexConfig for a file that is not TOML.
//
// Both functions first take out the second table that versions matching
// line starts appended after an entry they did not recognise, when that is
// what keeps the file from being TOML.
CodexRemoval codex_config_without_server(const std::string& text, const std::string& file);

}  // namespace tamrik::commands::mcp
