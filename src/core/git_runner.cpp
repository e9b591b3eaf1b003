#include "core/git_runner.hpp"

#include "core/program_search.hpp"

#include <optional>

namespace tamrik::core {

namespace {

// Looked up once per process: spawning by bare name would try every PATH
// directory before git's for each child (nine failed execs per child on a
// typical PATH, three children per post-commit record). Not found, it stays
// the bare name, which each spawn looks up again.
std::string git_program() {
  static const std::optional<std::filesystem::path> found = find_on_path("git");
  return found ? found->string() : std::string("git");
}

}  // namespace

std::chrono::milliseconds git_time_limit{10'000};

ProcessResult run_git(const std::vector<std::string>& args, const std::filesystem::path& cwd) {
  std::vector<std::string> argv{git_program()};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions options;
  options.cwd = cwd;
  options.timeout = git_time_limit;
  options.stdin_mode = StdinMode::inherit;
  options.capture_stderr = false;
  // A git killed at the limit takes what it started (hooks, aliases, a
  // credential helper) with it.
  options.new_process_group = true;
  options.env = {{"GIT_OPTIONAL_LOCKS", "0"}, {"GIT_TERMINAL_PROMPT", "0"}};
  return run_process(argv, options);
}

}  // namespace tamrik::core
