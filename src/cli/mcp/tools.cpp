#include "cli/mcp/tools.hpp"

namespace tamrik::cli::mcp {

std::vector<Tool> all_tools() {
  return {status_tool(), session_summary_tool(), prepare_attestation_tool(), sync_tool()};
}

}  // namespace tamrik::cli::mcp
