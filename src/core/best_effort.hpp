#pragma once
// The one way to let a step fail without failing what surrounds it: an
// upload from a commit hook, a repair during a sync, a hook entry that must
// never fail the commit or the agent's tool call.

#include <functional>
#include <string_view>

namespace tamrik::core {

// Runs `step`. Whatever it throws is logged at debug level as
// "<what> (best-effort): <class>: <message>" and swallowed, so `what` says
// what was given up ("Gitignore self-heal skipped"). Never throws.
void best_effort(std::string_view what, const std::function<void()>& step);

}  // namespace tamrik::core
