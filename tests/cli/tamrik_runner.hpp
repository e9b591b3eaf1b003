#pragma once
// Runs the built `tamrik` executable the way git and agent harnesses do: in
// a given directory, with given stdin, environment changes, and stdout and
// stderr kept apart (hook paths promise a silent or exact stdout).

#include "support/test_env.hpp"

#include <string>
#include <utility>
#include <vector>

namespace tamrik::testing {

// The executable under test (set by the build).
fs::path tamrik_binary();

struct TamrikRun {
  std::vector<std::string> args;
  fs::path cwd;
  std::string input;  // written to stdin, which is then closed
  // Set (or, with an empty value, unset) in the child's environment.
  std::vector<std::pair<std::string, std::string>> env;
};

struct TamrikResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

TamrikResult run_tamrik(const TamrikRun& run);

// The lines of `text`, without their line breaks.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace tamrik::testing
