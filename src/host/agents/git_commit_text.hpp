#pragma once
// Reading shell commands and their output for `git commit`.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::agents {

// Whether a shell command line runs `git commit`, anywhere in a chain
// (`cd x && git add . && git commit -m y`), with git's global options before
// the subcommand (`git -C repo -c k=v commit`). `git commit-tree`,
// `git log --grep commit` and the like do not count.
bool runs_git_commit(std::string_view command);

// The abbreviated hashes of git's commit summary lines in `output`
// ("[main abc1234] subject", "[main (root-commit) abc1234] subject"), in
// order. A tool's label may precede one ("Output: [main abc1234] subject").
std::vector<std::string> commit_summary_hashes(std::string_view output);

// The exit status a tool printed after `label` ("Process exited with code ",
// "Exit Code: "), or nullopt when the output does not say.
std::optional<int> exit_code_after(std::string_view output, std::string_view label);

}  // namespace tamrik::agents
