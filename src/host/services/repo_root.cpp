#include "host/services/repo_root.hpp"

#include "core/git_runner.hpp"

namespace tamrik::services::shared {

std::filesystem::path get_repo_root() {
  const core::ProcessResult result = core::run_git({"rev-parse", "--show-toplevel"}, {});
  if (result.status == core::ProcessStatus::could_not_start) {
    throw NotARepositoryError("git could not be run; install git (or put it on PATH) and try again");
  }
  std::string top = result.out_text();
  while (!top.empty() && (top.back() == '\n' || top.back() == '\r')) top.pop_back();
  if (!result.ok() || top.empty()) {
    throw NotARepositoryError("not inside a git working tree; run this from a checkout of your repository");
  }
  return top;
}

}  // namespace tamrik::services::shared
