#pragma once
// A step that may fail without failing what surrounds it: an upload from a
// hook, a repair during a sync. The failure is logged at debug level, shown
// to the user only when the step is audible, and swallowed.

#include <functional>
#include <string_view>

namespace tamrik::utils::best_effort {

struct BestEffortOptions {
  // Announce a failure as a warning naming the step and the error's class
  // (never its message, which may hold paths, URLs or server text).
  bool audible = true;
};

// Runs `body`. Whatever it throws is logged as "<label> failed
// (best-effort)" with the error and swallowed. Never throws.
void best_effort(std::string_view label, const std::function<void()>& body, BestEffortOptions options = {});

}  // namespace tamrik::utils::best_effort
