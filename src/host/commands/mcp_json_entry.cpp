#include "host/commands/mcp_json_entry.hpp"

namespace tamrik::commands::mcp {

using core::Json;
using core::JsonPath;

Json shared_entry() { return {{"command", "tamrik"}, {"args", {"mcp"}}}; }

Json per_user_entry(const std::filesystem::path& program) {
  return {{"type", "stdio"}, {"command", program.string()}, {"args", {"mcp"}}};
}

namespace {

// How many leading steps of `entry` are present, each but the entry itself
// an object.
std::size_t existing_steps(const core::JsonTextEditor& file, const JsonPath& entry) {
  std::size_t steps = 0;
  for (; steps < entry.size(); ++steps) {
    const std::optional<Json> value = file.get(JsonPath(entry.begin(), entry.begin() + steps + 1));
    if (!value) break;
    if (steps + 1 < entry.size() && !value->is_object()) {
      throw UnreadableMcpJson("\"" + std::get<std::string>(entry[steps]) +
                              "\" is not a JSON object there; left as it is");
    }
  }
  return steps;
}

}  // namespace

bool holds_entry(const core::JsonTextEditor& file, const JsonPath& entry) {
  return existing_steps(file, entry) == entry.size();
}

std::optional<std::size_t> add_entry(core::JsonTextEditor& file, const JsonPath& entry, const Json& value) {
  const std::size_t existed = existing_steps(file, entry);
  if (existed == entry.size()) return std::nullopt;
  Json nested = value;
  for (std::size_t i = entry.size() - 1; i > existed; --i) nested = Json{{std::get<std::string>(entry[i]), nested}};
  file.set_member(JsonPath(entry.begin(), entry.begin() + existed), std::get<std::string>(entry[existed]), nested);
  return existed;
}

bool remove_entry(core::JsonTextEditor& file, const JsonPath& entry, std::size_t existed) {
  if (!holds_entry(file, entry)) return false;
  // A key tamrik never writes means the person has made the entry theirs.
  const Json value = *file.get(entry);
  if (!value.is_object()) return false;
  for (const auto& [key, member] : value.items()) {
    if (key != "type" && key != "command" && key != "args") return false;
  }
  file.remove(entry);
  for (std::size_t length = entry.size() - 1; length > existed; --length) {
    const JsonPath container(entry.begin(), entry.begin() + length);
    if (file.get(container) != Json::object()) break;
    file.remove(container);
  }
  return true;
}

}  // namespace tamrik::commands::mcp
