#include "cli/mcp/tools.hpp"
#include "cli/sync_run_command.hpp"
#include "synccore/synccore.hpp"

namespace tamrik::cli::mcp {

namespace {

// All of the tool's platform requests together: well under the minute after
// which agent clients give up on a call, so the agent reads what the sync
// did rather than a time-out.
constexpr double kSyncToolNetworkSeconds = 45;

}  // namespace

Tool sync_tool() {
  return {.name = "sync",
          .description =
              "Sync this repository with the tamrik platform, as `tamrik sync` does: file the pending "
              "attestation, link the repository to its project the first time, upload the records not "
              "yet on the platform and refresh the project context. One line per outcome; a failure "
              "says what to do next. Pass team_id only when a sync asked you to name a team.",
          .input_schema = {{"type", "object"},
                           {"properties",
                            {{"team_id",
                              {{"type", "integer"},
                               {"minimum", 1},
                               {"description",
                                "The team to link this repository under, when the user belongs to "
                                "several. It is saved, so it is needed once."}}}}},
                           {"additionalProperties", false}},
          .call = [](const Json& arguments) -> ToolResult {
            SyncRunOptions options;
            if (arguments.contains("team_id")) options.team_id = arguments["team_id"].get<long long>();
            const auto deadline = protocol::http_client::network_budget(kSyncToolNetworkSeconds);
            const display::output::BufferedConsole console;
            const int status = run_sync_command(options, console.console());
            return {console.text(), status != 0};
          }};
}

}  // namespace tamrik::cli::mcp
