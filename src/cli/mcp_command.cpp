#include "cli/mcp_command.hpp"

#include "cli/mcp/server.hpp"

#include <CLI/CLI.hpp>

namespace tamrik::cli {

void add_mcp_command(CLI::App& parent, attest::SelectedCommand& selected) {
  CLI::App* mcp = parent.add_subcommand(
      "mcp", "Serve tamrik's tools to an agent (status, session summary, sync, attestation) over stdin and stdout.");
  mcp->footer("One JSON-RPC message per line. Agents set up by `tamrik setup` start it themselves.");
  mcp->callback([mcp, &selected] { selected = {mcp, [] { return mcp::serve(TAMRIK_VERSION); }}; });
}

}  // namespace tamrik::cli
