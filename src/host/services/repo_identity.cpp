#include "host/services/repo_identity.hpp"

#include "core/errors.hpp"
#include "core/git_runner.hpp"
#include "core/text.hpp"

namespace tamrik::services::repo_identity {

std::optional<std::string> origin_remote(const std::filesystem::path& repo_root) {
  core::ProcessResult result;
  try {
    result = core::run_git({"remote", "get-url", "origin"}, repo_root);
  } catch (const core::OSError&) {
    return std::nullopt;  // no pipes to run git with: no remote we can know
  }
  if (!result.ok()) return std::nullopt;
  std::string url(core::trim(result.out_text()));
  if (url.empty()) return std::nullopt;
  return url;
}

}  // namespace tamrik::services::repo_identity
