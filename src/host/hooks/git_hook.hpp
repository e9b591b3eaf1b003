#pragma once
// The git post-commit hook that records every commit: `tamrik sync
// --record-commit`, in a marked block of the repository's post-commit hook.
//
// The hook lives where git runs hooks from (core.hooksPath when set, else
// the hooks directory shared by all worktrees). An existing shell hook keeps
// all of its lines: ours go right after its first line, so an `exit` in it
// cannot skip them. The block never fails the commit: its status is always
// 0, and when tamrik cannot run the next agent session start records the
// commit through the catch-up walk.

#include "core/errors.hpp"

#include <filesystem>

namespace tamrik::hooks::installer {

using std::filesystem::path;

// An existing post-commit hook tamrik must not edit: one written for
// another interpreter (Python, Node...), which shell lines would break, or
// one that is not executable, which git does not run (the user may have
// switched it off). The message says what to do.
class UnusableHookError : public core::Error {
 public:
  explicit UnusableHookError(const std::string& message) : Error("UnusableHookError", message) {}
};

// The post-commit hook file git runs for `repo_root`. Throws OSError when
// git cannot say where the hooks are (not a repository).
path post_commit_hook_path(const path& repo_root);

// Adds or updates our block, running `program` (the tamrik executable; the
// one on PATH when that file is gone). Returns whether the file changed.
// Throws UnusableHookError or OSError.
bool install_post_commit_hook(const path& repo_root, const path& program);

// Removes our block; a hook left with nothing but its first line is
// removed. Returns whether anything changed. Throws OSError.
bool uninstall_post_commit_hook(const path& repo_root);

// Our block is in the hook and git runs the hook.
bool post_commit_hook_installed(const path& repo_root);

}  // namespace tamrik::hooks::installer
