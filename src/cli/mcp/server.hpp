#pragma once
// The tool server's loop: reads one JSON-RPC message per line from stdin and
// writes each answer as one line. Only protocol messages reach stdout; a
// stray write to stdout from anywhere else goes to stderr instead.

#include <cstddef>
#include <string>

namespace tamrik::cli::mcp {

// Longest message accepted; a longer line is answered with an error.
inline constexpr std::size_t kMaxMessageBytes = 8 * 1024 * 1024;

// Serves until the end of input, and answers the tool calls given before
// it. Returns the exit status: 0, or 1 when the answers can no longer be
// written.
int serve(const std::string& version);

}  // namespace tamrik::cli::mcp
