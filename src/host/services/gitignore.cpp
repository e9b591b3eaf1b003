#include "host/paths.hpp"
#include "host/services/gitignore.hpp"

#include "core/file_io.hpp"
#include "host/utils/marked_block.hpp"
#include "host/utils/user_file.hpp"

#include <string>

namespace tamrik::services::shared {

namespace {

namespace block = utils::marked_block;
namespace user_file = utils::user_file;

constexpr block::Markers kMarkers{"# >>> tamrik: local ledger and cache >>>", "# <<< tamrik <<<"};

std::filesystem::path gitignore_of(const std::filesystem::path& repo_root) {
  return paths::repository_file(repo_root, ".gitignore");
}

}  // namespace

bool ensure_gitignore(const std::filesystem::path& repo_root, std::span<const std::string_view> entries) {
  const std::filesystem::path file = gitignore_of(repo_root);
  const std::string before = user_file::read_if_exists(file).value_or("");
  std::string body;
  for (std::string_view entry : entries) body.append(entry).append("\n");
  const std::string after = block::with_block(before, kMarkers, body, block::Placement::end);
  if (after == before) return false;
  user_file::replace(file, after, 0644);
  return true;
}

bool remove_gitignore_entries(const std::filesystem::path& repo_root) {
  const std::filesystem::path file = gitignore_of(repo_root);
  const std::optional<std::string> before = user_file::read_if_exists(file);
  if (!before) return false;
  const std::string after = block::without_block(*before, kMarkers);
  if (after == *before) return false;
  if (after.empty()) {
    user_file::remove(file);
  } else {
    user_file::replace(file, after, 0644);
  }
  return true;
}

bool has_gitignore_entries(const std::filesystem::path& repo_root) {
  const std::optional<std::string> text = core::try_read_file(gitignore_of(repo_root), core::kDocumentFileCap);
  return text && block::find_block(*text, kMarkers).has_value();
}

}  // namespace tamrik::services::shared
