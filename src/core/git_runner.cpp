#include "core/git_runner.hpp"

namespace tamrik::core {

std::chrono::milliseconds git_time_limit{10'000};

ProcessResult run_git(const std::vector<std::string>& args, const std::filesystem::path& cwd) {
  std::vector<std::string> argv{"git"};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions options;
  options.cwd = cwd;
  options.timeout = git_time_limit;
  options.stdin_mode = StdinMode::inherit;
  options.capture_stderr = false;
  options.env = {{"GIT_OPTIONAL_LOCKS", "0"}, {"GIT_TERMINAL_PROMPT", "0"}};
  return run_process(argv, options);
}

}  // namespace tamrik::core
