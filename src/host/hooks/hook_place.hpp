#pragma once
// Where tamrik's call belongs for one git hook of a checkout, given whoever
// manages the repository's hooks:
//
//   husky (core.hooksPath .husky/_)   .husky/<hook>, the user hooks husky's
//                                     generated stubs run; husky rewrites
//                                     .husky/_ on every install
//   lefthook, pre-commit,             nothing is written: they regenerate
//   simple-git-hooks                  the hooks from their own config, so
//                                     the person adds the printed snippet
//   core.hooksPath in the working     the script there, confined like any
//   tree                              file of the tree
//   otherwise                         the file git runs (hooks directory
//                                     of git's common directory)
//
// A hook that is shared with the team (husky's, or one in a directory git
// tracks) calls `tamrik` through PATH: an absolute path would point into
// one developer's machine.

#include "host/hooks/git_hook.hpp"

#include <optional>
#include <string>

namespace tamrik::hooks::installer {

struct HookPlace {
  path file;                           // the script, or the manager's config file
  path git_runs;                       // the file git itself runs (confined when in the tree)
  bool shared = false;                 // committed with the repository: call through PATH
  bool needs_execute_bit = true;       // false where a manager runs the script with sh
  std::optional<std::string> snippet;  // set for a manager whose config the person edits: what to add
  std::string manager;                 // "husky", "lefthook", ...; "" for none
};

// Throws OSError when git cannot say where the hooks are.
HookPlace hook_place(const path& work_tree, GitHook hook);

// What setup says for a place with a snippet: the manager, the file, the
// text to add and how to make the manager pick it up.
std::string snippet_instructions(const HookPlace& place);

// Whether the manager's config already calls tamrik for `hook`.
bool snippet_in_place(const HookPlace& place, GitHook hook);

// Adds or updates our block in `place.file` (which has no snippet); see
// install_git_hook(). Throws UnusableHookError or OSError.
bool install_hook_at(const HookPlace& place, GitHook hook, const path& program);

// Takes our block out of `file`; a hook left with nothing but its first
// line is removed. Returns whether it changed. Throws OSError.
bool remove_hook_block(const path& file, GitHook hook);

}  // namespace tamrik::hooks::installer
