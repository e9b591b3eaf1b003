#pragma once
// Runs a command the way a harness or git runs a hook, but watched: a time
// limit for it and everything it starts, detached or not, after which they
// are killed, and the peak memory it and the children it waited for used.

#include "support/test_env.hpp"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace tamrik::testing {

struct LimitedRun {
  std::vector<std::string> argv;  // argv[0] is looked up on PATH
  fs::path cwd;
  std::string input;  // the whole of stdin
  // Set in the child's environment.
  std::vector<std::pair<std::string, std::string>> env;
};

struct LimitedResult {
  bool finished = false;  // false: it or what it started was still running at the limit, so killed
  int exit_code = -1;     // 128 + signal when a signal ended it
  long peak_rss_kib = 0;
  std::string out;
  std::string err;
};

LimitedResult run_limited(const LimitedRun& run, std::chrono::seconds limit);

}  // namespace tamrik::testing
