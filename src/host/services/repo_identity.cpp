#include "host/services/repo_identity.hpp"

#include "core/errors.hpp"
#include "core/git_runner.hpp"

namespace tamrik::services::repo_identity {

namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string> origin_remote(const std::filesystem::path& repo_root) {
  core::ProcessResult result;
  try {
    result = core::run_git({"remote", "get-url", "origin"}, repo_root);
  } catch (const core::OSError&) {
    return std::nullopt;  // no pipes to run git with: no remote we can know
  }
  if (!result.ok()) return std::nullopt;
  std::string url = trimmed(result.out_text());
  if (url.empty()) return std::nullopt;
  return url;
}

}  // namespace tamrik::services::repo_identity
