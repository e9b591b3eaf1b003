#include "host/paths.hpp"
#include "host/services/gitignore.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/git_runner.hpp"
#include "host/utils/marked_block.hpp"
#include "host/utils/user_file.hpp"

#include <cerrno>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::services::shared {

namespace {

using std::filesystem::path;
namespace block = utils::marked_block;
namespace user_file = utils::user_file;

// The same markers in info/exclude as in the .gitignore of earlier setups.
constexpr block::Markers kMarkers{"# >>> tamrik: local ledger and cache >>>", "# <<< tamrik <<<"};

path gitignore_of(const path& repo_root) { return paths::repository_file(repo_root, ".gitignore"); }

// The lines between the markers of the block in `text`; empty without one.
std::vector<std::string> block_entries(std::string_view text) {
  std::vector<std::string> entries;
  const std::optional<block::Range> range = block::find_block(text, kMarkers);
  if (!range) return entries;
  std::string_view body = text.substr(range->begin, range->end - range->begin);
  body.remove_prefix(std::min(body.find('\n') + 1, body.size()));  // the begin marker
  while (!body.empty()) {
    const size_t end = std::min(body.find('\n'), body.size());
    std::string line(body.substr(0, end));
    body.remove_prefix(std::min(end + 1, body.size()));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!body.empty() && !line.empty()) entries.push_back(std::move(line));  // the last line is the end marker
  }
  return entries;
}

std::string body_of(const std::vector<std::string>& entries) {
  std::string body;
  for (const std::string& entry : entries) body.append(entry).append("\n");
  return body;
}

// `file` with its block holding `entries` (none: without the block); a file
// left empty goes. Returns whether it changed.
bool write_block(const path& file, const std::optional<std::string>& before, const std::vector<std::string>& entries) {
  const std::string text = before.value_or("");
  const std::string after = entries.empty()
                                ? block::without_block(text, kMarkers)
                                : block::with_block(text, kMarkers, body_of(entries), block::Placement::end);
  if (after == text) return false;
  if (after.empty()) {
    user_file::remove(file);
  } else {
    user_file::replace(file, after, 0644);
  }
  return true;
}

// The .gitignore as git's index holds it; nullopt when git does not track one.
std::optional<std::string> indexed_gitignore(const path& repo_root) {
  const core::ProcessResult result = core::run_git({"show", ":.gitignore"}, repo_root);
  if (!result.ok()) return std::nullopt;
  return result.out;
}

// Takes tamrik's block out of the .gitignore unless the index holds it (the
// team's file then; removing it would leave the tree dirty). Gives back the
// indexed bytes where the block only added a line break.
Migration take_block_out_of_gitignore(const path& repo_root) {
  const path file = gitignore_of(repo_root);
  const std::optional<std::string> before = user_file::read_if_exists(file);
  if (!before || !block::find_block(*before, kMarkers)) return Migration::none;
  const std::optional<std::string> indexed = indexed_gitignore(repo_root);
  if (indexed && block::find_block(*indexed, kMarkers)) return Migration::kept_committed;
  std::string after = block::without_block(*before, kMarkers);
  if (indexed && after == *indexed + "\n") after = *indexed;
  if (after.empty() && !indexed) {
    user_file::remove(file);
  } else {
    user_file::replace(file, after, 0644);
  }
  return Migration::moved;
}

// "/.tamrik/" -> <root>/.tamrik
path directory_of(const path& repo_root, std::string_view entry) {
  while (entry.starts_with('/')) entry.remove_prefix(1);
  while (entry.ends_with('/')) entry.remove_suffix(1);
  return repo_root / entry;
}

bool stray_skills_copy(const path& repo_root) {
  return core::path_exists(directory_of(repo_root, SKILLS_INSTALLER_ENTRY)) &&
         !git_tracks_any_below(repo_root, "agent/skills");
}

}  // namespace

path exclude_file(const path& repo_root) {
  const core::ProcessResult result = core::run_git({"rev-parse", "--git-path", "info/exclude"}, repo_root);
  std::string where = result.out_text();
  while (!where.empty() && (where.back() == '\n' || where.back() == '\r')) where.pop_back();
  if (!result.ok() || where.empty()) {
    throw core::OSError("git rev-parse --git-path info/exclude in " + repo_root.string(), ENOENT);
  }
  const path file = where;
  return file.is_absolute() ? file : repo_root / file;
}

bool ensure_gitignore(const path& repo_root, std::span<const std::string_view> entries) {
  const path file = exclude_file(repo_root);
  const std::optional<std::string> before = user_file::read_if_exists(file);
  std::vector<std::string> wanted = block_entries(before.value_or(""));
  for (std::string_view entry : entries) {
    if (std::find(wanted.begin(), wanted.end(), entry) == wanted.end()) wanted.emplace_back(entry);
  }
  return write_block(file, before, wanted);
}

Migration migrate_gitignore_block(const path& repo_root) {
  const std::optional<std::string> text = user_file::read_if_exists(gitignore_of(repo_root));
  if (!text || !block::find_block(*text, kMarkers)) return Migration::none;
  // Ignored in info/exclude first, so nothing of tamrik's shows as
  // untracked even for a moment.
  std::vector<std::string_view> entries(TAMRIK_GITIGNORE_ENTRIES.begin(), TAMRIK_GITIGNORE_ENTRIES.end());
  const std::vector<std::string> carried = block_entries(*text);
  for (const std::string& entry : carried) {
    if (entry != SKILLS_INSTALLER_ENTRY || stray_skills_copy(repo_root)) entries.push_back(entry);
  }
  ensure_gitignore(repo_root, entries);
  return take_block_out_of_gitignore(repo_root);
}

std::string migration_notice(Migration migration) {
  switch (migration) {
    case Migration::moved:
      return "tamrik's ignore entries moved from .gitignore to .git/info/exclude, which git never commits; the "
             ".gitignore is as it was before tamrik";
    case Migration::kept_committed:
      return "tamrik's ignore block in .gitignore is in this repository's history, so it stays there (the entries "
             "are in .git/info/exclude as well); take it out in a commit of your own if the team does not want it";
    case Migration::none:
      break;
  }
  return "";
}

bool remove_gitignore_entries(const path& repo_root) {
  bool changed = take_block_out_of_gitignore(repo_root) == Migration::moved;
  const path file = exclude_file(repo_root);
  const std::optional<std::string> before = user_file::read_if_exists(file);
  std::vector<std::string> kept;
  for (const std::string& entry : block_entries(before.value_or(""))) {
    if (core::path_exists(directory_of(repo_root, entry))) kept.push_back(entry);
  }
  return write_block(file, before, kept) || changed;
}

bool has_gitignore_entries(const path& repo_root) {
  for (const path& file : {exclude_file(repo_root), gitignore_of(repo_root)}) {
    const std::optional<std::string> text = core::try_read_file(file, core::kDocumentFileCap);
    if (text && block::find_block(*text, kMarkers)) return true;
  }
  return false;
}

bool git_tracks_any_below(const path& repo_root, std::string_view relative) {
  const core::ProcessResult result =
      core::run_git({"ls-files", "-z", "--", ":(literal)" + std::string(relative)}, repo_root);
  return result.ok() && !result.out.empty();
}

}  // namespace tamrik::services::shared
