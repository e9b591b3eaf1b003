#pragma once
// `tamrik attest add`: record a commit an agent session made before tamrik
// was set up (backfill), attach a pending attestation to a commit recorded
// without one (the answer to the hook's nudge), or, with --from-hook, run
// the agent hook path.

#include "synccore/synccore.hpp"

#include <optional>
#include <string>

namespace tamrik::attest {

struct AddOptions {
  std::optional<std::string> commit;
  std::optional<std::string> session_id;
  std::optional<std::string> task_type;  // already checked against VALID_TASK_TYPES
  bool from_hook = false;
  std::optional<std::string> agent;  // only with from_hook
};

// The exit status. Throws UsageError for --agent without --from-hook and
// for options missing in backfill mode; failures of the recording
// components propagate.
int run_attest_add(const AddOptions& options, const display::output::Console& console);

// The agent hook path (--from-hook): prints nothing and returns 0, whatever
// happened. The hook entries call it before any console is made.
int run_attest_add_from_hook(const std::optional<std::string>& agent);

}  // namespace tamrik::attest
