#pragma once
// What a hook prints for an agent harness to read: the harness's own JSON
// shape for text that joins the model's context.

#include "core/json.hpp"

#include <optional>
#include <string_view>

namespace tamrik::commands {

// The document to print for `agent` (a harness name, any spelling the
// registry accepts) at hook event `event` carrying `message`:
//   {"hookSpecificOutput": {"hookEventName": <event>, "additionalContext": <message>}}
// for the harnesses that read that shape (Claude Code, Codex, Gemini CLI) at
// the events where they accept added context. nullopt when the harness or
// event takes no context, or the message is empty: print nothing then.
std::optional<core::Json> render_hook_context(std::string_view agent, std::string_view event, std::string_view message);

}  // namespace tamrik::commands
