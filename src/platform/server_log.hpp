#pragma once
// The server's log on stderr: one line per request, and the connections it
// refused or cut off.

#include <string_view>

namespace tamrik::platform {

// Writes `line` (ending in a line break) whole, never interleaved with
// another thread's line.
void log_line(std::string_view line);

}  // namespace tamrik::platform
