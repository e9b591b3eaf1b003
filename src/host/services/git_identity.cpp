#include "host/services/git_identity.hpp"

#include "core/git_runner.hpp"
#include "core/sha256.hpp"
#include "core/text.hpp"

namespace tamrik::services::shared {

std::optional<core::Json> detect_git_author(const std::filesystem::path& repo_root) {
  // One child for both keys.
  const core::ProcessResult result = core::run_git({"config", "--get-regexp", R"(^user\.(name|email)$)"}, repo_root);
  if (!result.ok()) return std::nullopt;
  core::Json developer = core::Json::object();
  const std::string text = result.out_text();
  for (std::string_view line : core::lines_of(text)) {
    const size_t space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    const std::string value(space == std::string_view::npos ? "" : line.substr(space + 1));
    if (!value.empty() && key == "user.name") developer["git_author_name"] = value;
    if (!value.empty() && key == "user.email") developer["git_author_email"] = value;
  }
  if (developer.empty()) return std::nullopt;
  return developer;
}

std::string patch_hash(std::string_view patch) {
  std::string normalised;
  normalised.reserve(patch.size());
  for (size_t i = 0; i < patch.size(); ++i) {
    if (patch[i] == '\r' && i + 1 < patch.size() && patch[i + 1] == '\n') continue;
    normalised.push_back(patch[i]);
  }
  return core::sha256_hex(normalised);
}

std::string_view empty_tree_for(std::string_view commit) {
  return commit.size() == 64 ? "6ef19b41225c5369f1c104d45d8d85efa9b057b53b14b4b9b939dd74decc5321"
                             : "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
}

std::optional<std::string> get_staged_diff_hash(const std::filesystem::path& repo_root) {
  core::ProcessResult result = core::run_git({"diff-index", "--cached", "-p", "-M", "HEAD"}, repo_root);
  if (!result.ok()) {
    // No HEAD yet: git compares the index with the empty tree of the
    // repository's own object format; the first commit is matched the same way.
    result = core::run_git({"diff", "--cached"}, repo_root);
  }
  if (!result.ok()) return std::nullopt;
  return patch_hash(result.out);
}

}  // namespace tamrik::services::shared
