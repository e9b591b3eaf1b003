#pragma once
// Each tool of the server, one file each; all_tools() (tool.hpp) lists them.

#include "cli/mcp/tool.hpp"

namespace tamrik::cli::mcp {

Tool status_tool();
Tool session_summary_tool();
Tool prepare_attestation_tool();
Tool sync_tool();

}  // namespace tamrik::cli::mcp
