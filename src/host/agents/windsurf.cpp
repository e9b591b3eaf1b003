// Windsurf's Cascade agent. No variable in Cascade's terminal is known to
// mark it, so it is never detected from the environment; its hooks name it
// (`--agent windsurf`). Its transcripts ({type, status} steps) document no
// model or token counts.

#include "host/agents/builtin_adapters.hpp"
#include "host/agents/marker_only_adapter.hpp"

namespace tamrik::agents {

const Adapter& windsurf_adapter() {
  static const MarkerOnlyAdapter adapter("windsurf", "windsurf", {});
  return adapter;
}

}  // namespace tamrik::agents
