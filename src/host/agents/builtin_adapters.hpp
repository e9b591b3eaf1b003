#pragma once
// The adapters tamrik ships, one per harness. Each lives for the whole
// process and holds no state.

#include "host/agents/registry.hpp"

namespace tamrik::agents {

const Adapter& claude_code_adapter();
const Adapter& codex_adapter();
const Adapter& gemini_cli_adapter();
const Adapter& cursor_adapter();
const Adapter& windsurf_adapter();

}  // namespace tamrik::agents
