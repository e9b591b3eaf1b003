#pragma once
// The one way tamrik runs git: an argument list in an explicit directory,
// within a time limit, with an environment that keeps read-only questions
// from taking the user's index.lock or waiting on a credential prompt.

#include "core/process.hpp"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tamrik::core {

// The time limit of every git child. Tests shorten it to prove a hung git
// is killed; the product never changes it.
extern std::chrono::milliseconds git_time_limit;

// Runs `git <args>` in `cwd` (ours when empty); stdin inherited, stderr
// discarded. The raw result: callers decide what a failure means.
ProcessResult run_git(const std::vector<std::string>& args, const std::filesystem::path& cwd);

}  // namespace tamrik::core
