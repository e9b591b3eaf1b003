#pragma once
// Work a git hook must not wait for (an upload over the network).

#include <functional>
#include <string_view>

namespace tamrik::cli {

// Runs `work` in a grandchild process, detached from this one: in its own
// session, with stdin, stdout and stderr on /dev/null (so nothing that
// reads this process's output waits for it), reparented to init (so no
// zombie is left). The work runs through core::best_effort with `what`.
// Returns as soon as it is started. Never throws; when it cannot start, the
// work is left for the next sync.
void run_detached(std::string_view what, const std::function<void()>& work);

}  // namespace tamrik::cli
