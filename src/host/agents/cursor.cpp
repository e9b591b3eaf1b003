// Cursor (its editor agent and the cursor-agent command line). Its hooks
// give a conversation id, but no variable reaches the agent's shell, and its
// transcripts carry neither model nor token counts.

#include "host/agents/builtin_adapters.hpp"
#include "host/agents/marker_only_adapter.hpp"

namespace tamrik::agents {

namespace {

// CURSOR_TRACE_ID is set in every Cursor terminal, agent or not.
constexpr EnvMarker kCursorMarkers[] = {
    {"CURSOR_AGENT", "", true},
    {"CURSOR_EXTENSION_HOST_ROLE", "agent-exec", true},
    {"CURSOR_TRACE_ID", "", false},
};

}  // namespace

const Adapter& cursor_adapter() {
  static const MarkerOnlyAdapter adapter("cursor", "cursor", kCursorMarkers);
  return adapter;
}

}  // namespace tamrik::agents
