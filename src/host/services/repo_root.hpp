#pragma once
// The repository a command works on: the one around the current directory.

#include "core/errors.hpp"

#include <filesystem>

namespace tamrik::services::shared {

// The current directory is not inside a git working tree, or git cannot be
// run at all. The message says which and what to do.
class NotARepositoryError : public core::Error {
 public:
  explicit NotARepositoryError(const std::string& message) : Error("NotARepositoryError", message) {}
};

// The top of the working tree around the current directory, as git sees it
// (worktrees, GIT_DIR and GIT_WORK_TREE included). Throws
// NotARepositoryError.
std::filesystem::path get_repo_root();

}  // namespace tamrik::services::shared
