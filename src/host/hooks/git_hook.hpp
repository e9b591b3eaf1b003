#pragma once
// The git hooks that record commits, each in a marked block of the
// repository's hook of that name:
//
//   post-commit    `tamrik sync --record-commit`: records every commit
//   post-rewrite   `tamrik sync --record-rewrite <amend|rebase>`, fed git's
//                  list of rewritten commits: carries their attestations to
//                  the commits that replace them
//
// The hooks live where git runs hooks from (core.hooksPath when set, else
// the hooks directory shared by all worktrees), or where the repository's
// hook manager expects them (hook_place.hpp). An existing shell hook keeps
// all of its lines: ours go right after its first line, so an `exit` in it
// cannot skip them. A block never fails the commit or the rewrite: its
// status is always 0, and when tamrik cannot run the next agent session
// start records the commit through the catch-up walk.

#include "core/errors.hpp"

#include <array>
#include <filesystem>
#include <string_view>

namespace tamrik::hooks::installer {

using std::filesystem::path;

enum class GitHook { post_commit, post_rewrite };
inline constexpr std::array<GitHook, 2> kGitHooks = {GitHook::post_commit, GitHook::post_rewrite};

// "post-commit", "post-rewrite": the hook's file name, and its name in reports.
std::string_view git_hook_name(GitHook hook);

// An existing hook tamrik must not edit: one written for another
// interpreter (Python, Node...), which shell lines would break, or one that
// is not executable, which git does not run (the user may have switched it
// off). The message says what to do.
class UnusableHookError : public core::Error {
 public:
  explicit UnusableHookError(const std::string& message) : Error("UnusableHookError", message) {}
};

// The hook file git runs for `repo_root`. Throws OSError when git cannot say
// where the hooks are (not a repository).
path git_hook_path(const path& repo_root, GitHook hook);

// Adds or updates our block at hook_place(), running `program` (the tamrik
// executable; the one on PATH when that file is gone; only the one on PATH
// in a shared hook). Returns whether the file changed. Throws
// UnusableHookError (for a manager whose config the person edits too, with
// what to add) or OSError.
bool install_git_hook(const path& repo_root, GitHook hook, const path& program);

// Removes our block from hook_place() and from the file git runs; a hook
// left with nothing but its first line is removed. Returns whether
// anything changed. Throws OSError.
bool uninstall_git_hook(const path& repo_root, GitHook hook);

// Our block is in the hook and git runs the hook.
bool git_hook_installed(const path& repo_root, GitHook hook);

}  // namespace tamrik::hooks::installer
