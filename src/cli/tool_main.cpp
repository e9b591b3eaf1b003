#include "cli/tool_main.hpp"

#include "cli/command_line.hpp"
#include "cli/hook_entries.hpp"
#include "synccore/synccore.hpp"

#include <csignal>

namespace tamrik::cli {

int tool_main(int argc, char** argv) {
  // A closed pipe on stdout (`tamrik status | head`) is a write error to
  // ignore, not a reason to die. Child processes get the default back.
  std::signal(SIGPIPE, SIG_IGN);
  if (const std::optional<int> status = run_hook_entry(argc, argv)) return *status;
  return run_command_line(argc, argv, display::output::console());
}

}  // namespace tamrik::cli
