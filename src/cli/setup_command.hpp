#pragma once
// `tamrik setup`: set tamrik up in the current repository (idempotent),
// `tamrik setup project <id>` to also link it to a platform project, and
// `tamrik setup --uninstall` to take away what setup added.

#include "synccore/synccore.hpp"

#include <optional>
#include <string>

namespace tamrik::cli {

struct SetupOptions {
  std::optional<std::string> agents;  // --agents, comma-separated; the installed harnesses when absent
  bool uninstall = false;
  bool all = false;  // with uninstall: the per-user agent hook rows too
  bool guidance = false;
  bool mcp_json = false;
  std::string project;  // `setup project <id>`: the id as typed
};

// The agent harnesses tamrik knows, for --agents' help.
std::string agent_names();

int run_setup(const SetupOptions& options, const display::output::Console& console);
int run_setup_project(const SetupOptions& options, const display::output::Console& console);

}  // namespace tamrik::cli
