#pragma once
// The checkout a command or hook works in, and the repository home it
// records into.
//
// A repository can have several checkouts at once (`git worktree add`):
// its main working tree and any number of linked worktrees, each with its
// own HEAD, branch and index, all sharing one object store and one hooks
// directory. tamrik keeps one `.tamrik` per repository, in the main working
// tree (the home), so that every worktree records into one ledger that
// outlives them all, and the set-up list names the home. Git's questions
// about HEAD, the branch and the index, and the agent sessions that ran in
// a checkout, belong to the checkout itself.

#include "core/errors.hpp"

#include <filesystem>
#include <optional>

namespace tamrik::services {

using std::filesystem::path;

struct Checkout {
  path work_tree;  // the top of the checkout: git runs here
  path home;       // the main working tree: `.tamrik` and the set-up list

  // The main working tree, which is its own home.
  static Checkout main(const path& root) { return {root, root}; }
};

// The current directory is not inside a git working tree, or git cannot be
// run at all. The message says which and what to do.
class NotARepositoryError : public core::Error {
 public:
  explicit NotARepositoryError(const std::string& message) : Error("NotARepositoryError", message) {}
};

// The checkout is a worktree whose repository has no main working tree to
// keep tamrik's files in (a bare repository), or whose git files no longer
// agree on where it is. The message says what to do.
class NoRepositoryHomeError : public core::Error {
 public:
  explicit NoRepositoryHomeError(const std::string& message) : Error("NoRepositoryHomeError", message) {}
};

// The home of the checkout whose top is `work_tree`, from git's own small
// files there, without running git: `work_tree` itself unless it is a
// linked worktree. Throws NoRepositoryHomeError.
path home_of(const path& work_tree);

// A checkout's own git directory (HEAD, the index) and the common one it
// shares with the repository's other worktrees (objects, branches,
// config); the same directory for a main working tree.
struct GitDirs {
  path own;
  path common;
};

// The git directories of the checkout whose top is `work_tree`, as real
// paths, from its `.git` and git's pointer files; nullopt when they cannot
// be read. Nothing is checked beyond that: for reading git's own files.
std::optional<GitDirs> git_dirs_of(const path& work_tree);

// The checkout whose top is `work_tree` with its home; nullopt when
// home_of() throws. For the hook paths, which stay silent.
std::optional<Checkout> checkout_at(const path& work_tree);

// The checkout around the current directory, as git sees it (GIT_DIR and
// GIT_WORK_TREE included), with its home. Throws NotARepositoryError or
// NoRepositoryHomeError.
Checkout current_checkout();

}  // namespace tamrik::services
