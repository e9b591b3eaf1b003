#pragma once
// Our server's entry (`tamrik`) in a JSON file of tool servers: a
// project's .mcp.json (mcpServers) or Claude Code's ~/.claude.json
// (projects["<repository>"].mcpServers). Edited as text, so the file's
// other servers and keys, and the keys a person added to our entry, stay.

#include "core/errors.hpp"
#include "core/json_edit.hpp"

#include <filesystem>
#include <optional>

namespace tamrik::commands::mcp {

// An object on the way to the entry is something else: not ours to
// rewrite.
class UnreadableMcpJson : public core::Error {
 public:
  explicit UnreadableMcpJson(const std::string& message) : Error("UnreadableMcpJson", message) {}
};

// What a shared project file gets: `tamrik`, found on each person's PATH.
core::Json shared_entry();
// What a per-user file gets: the absolute program, so the server starts
// whatever PATH the harness runs with.
core::Json per_user_entry(const std::filesystem::path& program);

// Whether an entry named tamrik is at `entry` (a path ending in "tamrik").
// Throws UnreadableMcpJson when a step on the way is not an object.
bool holds_entry(const core::JsonTextEditor& file, const core::JsonPath& entry);

// Adds `value` at `entry`, creating the objects missing on the way, unless
// an entry is there already. Returns how many steps of `entry` existed
// before (what remove_entry() must leave), or nullopt when nothing was
// added.
std::optional<std::size_t> add_entry(core::JsonTextEditor& file, const core::JsonPath& entry, const core::Json& value);

// Removes the entry at `entry`, then the objects on its way that it leaves
// empty, down to the first `existed` steps, which stay. An entry holding a
// key tamrik does not write (the person's `env`, say) is theirs now and
// stays. Returns whether anything was removed.
bool remove_entry(core::JsonTextEditor& file, const core::JsonPath& entry, std::size_t existed);

}  // namespace tamrik::commands::mcp
