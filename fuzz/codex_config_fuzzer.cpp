// tamrik's entry in Codex's config.toml over arbitrary text. Setup either
// refuses the file or gives text that toml++ reads with our keys in it (the
// editor checks every other value itself); a second setup changes nothing;
// and where a readable file held no entry of ours, uninstall gives its bytes
// back.

#include "host/commands/codex_mcp_table.hpp"
#include "scratch.hpp"

#include "host/utils/toml.hpp"

#include <optional>
#include <string>

namespace {

namespace mcp = tamrik::commands::mcp;
using tamrik::fuzz::require;

// A path that needs escaping in TOML.
constexpr std::string_view kCommand = "/opt/my \"tools\"\\bin/tamrik";
const std::string kFile = "config.toml";

std::optional<toml::table> parsed(const std::string& text) {
  try {
    return toml::parse(text);
  } catch (const toml::parse_error&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(tamrik::fuzz::as_text(data, size));
  std::optional<std::string> added;
  try {
    added = mcp::codex_config_with_server(text, kCommand, kFile);
  } catch (const mcp::UneditableCodexConfig&) {
    return 0;
  }
  if (!added) return 0;
  const std::optional<toml::table> after = parsed(*added);
  require(after.has_value(), "setup wrote text that is not TOML");
  require((*after)["mcp_servers"]["tamrik"]["command"].value_or(std::string()) == kCommand,
          "setup wrote another command");
  require(!mcp::codex_config_with_server(*added, kCommand, kFile), "a second setup changed the file again");
  const std::optional<toml::table> before = parsed(text);  // nullopt: repaired
  if (before && !(*before)["mcp_servers"]["tamrik"]) {
    require(mcp::codex_config_without_server(*added, kFile).text == text, "uninstall did not give the bytes back");
  }
  return 0;
}
