#pragma once
// `tamrik hook ...`: the entries agent harnesses run from their hook rows.
// Each reads the harness's payload from stdin, prints only what the harness
// reads, and always exits 0.

#include "synccore/synccore.hpp"

#include <string>

namespace tamrik::cli {

// The harness a hook row names when it names none.
inline constexpr const char* kDefaultHookAgent = "claude-code";

struct SessionStartOptions {
  std::string agent = kDefaultHookAgent;
  int limit = synccore::kCatchUpLimit;  // the most commits the catch-up records
};

// `hook session-start`: records the commits no hook saw, then hands the
// agent the session summary in its harness's own form (plain text for a
// harness without one).
int run_session_start(const SessionStartOptions& options, const display::output::Console& console);

// `hook post-tool`: the same as `tamrik attest add --from-hook`.
int run_post_tool(const std::string& agent);

}  // namespace tamrik::cli
