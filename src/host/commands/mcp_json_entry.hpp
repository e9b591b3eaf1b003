#pragma once
// Our server's entry in a project's .mcp.json, as text edits: the file's
// other servers and keys are kept.

#include "core/errors.hpp"

#include <optional>
#include <string>

namespace tamrik::commands::mcp {

// The file is not a JSON object (or its mcpServers is not one): not ours to
// rewrite.
class UnreadableMcpJson : public core::Error {
 public:
  explicit UnreadableMcpJson(const std::string& message) : Error("UnreadableMcpJson", message) {}
};

// The file's new text with our entry in place, or nullopt when it already
// holds exactly that entry. `text` nullopt: no file yet.
std::optional<std::string> mcp_json_with_entry(const std::optional<std::string>& text);
// The file's new text without our entry ("" when nothing else is left), or
// nullopt when it has no entry of ours.
std::optional<std::string> mcp_json_without_entry(const std::string& text);

}  // namespace tamrik::commands::mcp
