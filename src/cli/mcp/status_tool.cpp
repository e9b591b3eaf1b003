#include "cli/mcp/tools.hpp"
#include "cli/status_command.hpp"
#include "synccore/synccore.hpp"

namespace tamrik::cli::mcp {

Tool status_tool() {
  return {.name = "status",
          .description =
              "Show what tamrik knows about this repository as JSON: whether it is set up, linked to a "
              "project and signed in, the ledger counts, the cached rules, whether an attestation is "
              "waiting for the next commit, and which hooks are installed.",
          .input_schema = {{"type", "object"}, {"properties", Json::object()}, {"additionalProperties", false}},
          .call = [](const Json&) -> ToolResult {
            const Json status = status_json(services::current_checkout());
            return {status.dump(2, ' ', false, Json::error_handler_t::replace), false};
          }};
}

}  // namespace tamrik::cli::mcp
