#include "cli/tool_main.hpp"

#include "attest/command.hpp"
#include "cli/auth_command.hpp"
#include "cli/hook_command.hpp"
#include "cli/hook_entries.hpp"
#include "cli/log_command.hpp"
#include "cli/mcp_command.hpp"
#include "cli/setup_command.hpp"
#include "cli/show_command.hpp"
#include "cli/stats_command.hpp"
#include "cli/status_command.hpp"
#include "cli/sync_command.hpp"
#include "cli/usage.hpp"
#include "core/errors.hpp"
#include "host/display/output.hpp"

#include <CLI/CLI.hpp>

#include <csignal>

namespace tamrik::cli {

namespace {

constexpr const char* kDescription =
    "tamrik keeps one ledger record per commit made by AI coding agents, with the attestation the agent wrote.";

constexpr const char* kFooter = R"(Start with `tamrik setup` in a repository; after that every commit is recorded.
`tamrik <command> --help` shows a command's options.)";

void add_commands(CLI::App& app, attest::SelectedCommand& selected) {
  add_setup_command(app, selected);
  add_auth_command(app, selected);
  attest::add_attest_command(app, selected);
  add_sync_command(app, selected);
  add_status_command(app, selected);
  add_log_command(app, selected);
  add_show_command(app, selected);
  add_stats_command(app, selected);
  add_hook_command(app, selected);
  add_mcp_command(app, selected);
}

int run(const attest::SelectedCommand& selected) {
  try {
    return selected.run();
  } catch (const attest::UsageError& e) {
    return report_usage_error(*selected.app, e.what());
  } catch (const std::exception& e) {
    display::output::console().error("tamrik: " + std::string(e.what()));
    return 1;
  }
}

}  // namespace

int tool_main(int argc, char** argv) {
  // A closed pipe on stdout (`tamrik status | head`) is a write error to
  // ignore, not a reason to die. Child processes get the default back.
  std::signal(SIGPIPE, SIG_IGN);
  if (const std::optional<int> status = run_hook_entry(argc, argv)) return *status;

  CLI::App app(kDescription, "tamrik");
  app.footer(kFooter);
  app.set_version_flag("--version", TAMRIK_VERSION);
  app.require_subcommand(1);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  attest::SelectedCommand selected;
  add_commands(app, selected);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version arrive here as well, with status 0.
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    return report_usage_error(deepest_command(app), e.what());
  }
  return run(selected);
}

}  // namespace tamrik::cli
