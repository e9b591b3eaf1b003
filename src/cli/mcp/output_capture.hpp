#pragma once
// The commands a tool reuses report on the console (stdout and stderr). In
// the tool server stdout belongs to the protocol, so a tool body runs with
// both streams sent to a scratch file, and what it said becomes the text the
// agent gets back.

#include <functional>
#include <string>

namespace tamrik::cli::mcp {

struct Captured {
  int status = 0;     // what the body returned
  std::string text;   // everything it wrote to stdout and stderr, in order
};

// Runs `body` with file descriptors 1 and 2 redirected, then puts them back.
// Exceptions from `body` propagate after the streams are restored.
Captured capture_output(const std::function<int()>& body);

}  // namespace tamrik::cli::mcp
