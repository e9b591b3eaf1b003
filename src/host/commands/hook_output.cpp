#include "host/commands/hook_output.hpp"

#include "host/agents/registry.hpp"

#include <algorithm>
#include <array>
#include <string>

namespace tamrik::commands {

namespace {

// Harnesses whose hooks read hookSpecificOutput.additionalContext.
constexpr std::array<std::string_view, 3> kContextHarnesses = {"claude-code", "codex", "gemini-cli"};

// Events at which those harnesses add the text to the model's context
// (Gemini CLI names its post-tool event AfterTool).
constexpr std::array<std::string_view, 5> kContextEvents = {"SessionStart", "PostToolUse", "PostToolUseFailure",
                                                            "UserPromptSubmit", "AfterTool"};

template <size_t N>
bool contains(const std::array<std::string_view, N>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::optional<core::Json> render_hook_context(std::string_view agent, std::string_view event,
                                              std::string_view message) {
  if (message.empty() || !contains(kContextEvents, event)) return std::nullopt;
  if (!contains(kContextHarnesses, agents::normalize_agent_name(agent))) return std::nullopt;
  core::Json specific = core::Json::object();
  specific["hookEventName"] = std::string(event);
  specific["additionalContext"] = std::string(message);
  core::Json document = core::Json::object();
  document["hookSpecificOutput"] = std::move(specific);
  return document;
}

}  // namespace tamrik::commands
