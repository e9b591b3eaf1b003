#include "host/commands/mcp_json_entry.hpp"

#include "core/json.hpp"

namespace tamrik::commands::mcp {

namespace {

using core::Json;

const Json& entry() {
  static const Json ours = {{"command", "tamrik"}, {"args", {"mcp"}}};
  return ours;
}

Json parse_object(const std::string& text) {
  const std::optional<Json> parsed = core::parse_json(text);
  if (!parsed || !parsed->is_object()) throw UnreadableMcpJson(".mcp.json is not a JSON object; left as it is");
  if (parsed->contains("mcpServers") && !(*parsed)["mcpServers"].is_object()) {
    throw UnreadableMcpJson(".mcp.json has an mcpServers that is not an object; left as it is");
  }
  return *parsed;
}

std::string render(const Json& document) { return document.dump(2) + "\n"; }

}  // namespace

std::optional<std::string> mcp_json_with_entry(const std::optional<std::string>& text) {
  Json document = text ? parse_object(*text) : Json::object();
  Json& servers = document["mcpServers"];
  if (servers.is_object() && servers.contains("tamrik") && servers["tamrik"] == entry()) return std::nullopt;
  servers["tamrik"] = entry();
  return render(document);
}

std::optional<std::string> mcp_json_without_entry(const std::string& text) {
  Json document = parse_object(text);
  if (!document.contains("mcpServers") || !document["mcpServers"].contains("tamrik")) return std::nullopt;
  Json& servers = document["mcpServers"];
  servers.erase("tamrik");
  if (servers.empty()) document.erase("mcpServers");
  return document.empty() ? "" : render(document);
}

}  // namespace tamrik::commands::mcp
