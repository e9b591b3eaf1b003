#include "host/services/setup_list.hpp"

#include <stdlib.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/git_runner.hpp"
#include "host/hooks/git_hook.hpp"
#include "host/services/session_context.hpp"
#include "host/services/shared.hpp"
#include "host/utils/user_file.hpp"

namespace tamrik::services::setup_list {

namespace {

// The real path, so that every spelling of a repository finds one line.
std::string real_path_of(const path& repo_root) {
  const std::unique_ptr<char, decltype(&::free)> real(::realpath(repo_root.c_str(), nullptr), &::free);
  return real ? std::string(real.get()) : repo_root.lexically_normal().string();
}

// The non-empty pieces of `text` between `separator`s, at most `most`.
std::vector<std::string> pieces_of(std::string_view text, char separator, size_t most = SIZE_MAX) {
  std::vector<std::string> pieces;
  while (!text.empty() && pieces.size() < most) {
    const size_t end = std::min(text.find(separator), text.size());
    if (end > 0) pieces.emplace_back(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return pieces;
}

std::vector<std::string> listed(const path& file) {
  return pieces_of(core::try_read_file(file, core::kDocumentFileCap).value_or(""), '\n');
}

bool contains(const std::vector<std::string>& lines, std::string_view line) {
  for (const std::string& candidate : lines) {
    if (candidate == line) return true;
  }
  return false;
}

// Rewrites the list with `change` applied, under the list's lock so that
// two setups at once both land.
template <typename Change>
bool edit_list(Change&& change) {
  const std::optional<path> file = list_file();
  if (!file) {
    throw core::Error("NoConfigDirError",
                      "neither XDG_CONFIG_HOME nor HOME is set, so tamrik has no place to list the repositories "
                      "it is set up in; set HOME");
  }
  core::make_dirs(file->parent_path());
  const core::LockGuard guard = core::locked(*file);
  std::vector<std::string> lines = listed(*file);
  if (!change(lines)) return false;
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  utils::user_file::replace(*file, text, 0600);
  return true;
}

// Set up by an earlier version, before the list: the repository's own hooks
// directory (never a shared core.hooksPath) holds our post-commit hook.
bool set_up_before_the_list(const path& repo_root) {
  namespace installer = hooks::installer;
  try {
    const path hook = installer::git_hook_path(repo_root, installer::GitHook::post_commit).lexically_normal();
    const path own_hooks = (repo_root / ".git" / "hooks").lexically_normal();
    return hook.parent_path() == own_hooks && installer::git_hook_installed(repo_root, installer::GitHook::post_commit);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::optional<path> list_file() {
  const std::optional<path> credentials = session_context::credentials_file();
  if (!credentials) return std::nullopt;
  return credentials->parent_path() / "repositories";
}

bool is_set_up(const path& repo_root) {
  try {
    if (!shared::local_config_exists(repo_root)) return false;
    const std::optional<path> file = list_file();
    if (!file) return false;
    if (contains(listed(*file), real_path_of(repo_root))) return true;
    if (!set_up_before_the_list(repo_root)) return false;
    try {
      add(repo_root);
    } catch (const std::exception&) {
      // Unlisted for now; the hook in place still proves the setup.
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool add(const path& repo_root) {
  const std::string real = real_path_of(repo_root);
  if (real.find('\n') != std::string::npos) {
    throw core::Error("UnlistablePathError",
                      "tamrik cannot be set up in a repository whose path holds a line break: " + repo_root.string());
  }
  return edit_list([&](std::vector<std::string>& lines) {
    if (contains(lines, real)) return false;
    lines.push_back(real);
    return true;
  });
}

bool remove(const path& repo_root) {
  const std::optional<path> file = list_file();
  if (!file || !core::path_exists(*file)) return false;
  const std::string real = real_path_of(repo_root);
  return edit_list([&](std::vector<std::string>& lines) {
    const size_t before = lines.size();
    std::erase(lines, real);
    return lines.size() != before;
  });
}

std::vector<path> others_set_up(const path& repo_root) {
  std::vector<path> others;
  try {
    const std::optional<path> file = list_file();
    if (!file) return others;
    const std::string self = real_path_of(repo_root);
    for (const std::string& line : listed(*file)) {
      if (line != self && shared::local_config_exists(line)) others.emplace_back(line);
    }
  } catch (const std::exception&) {
    // An unreadable list names no other repository.
  }
  return others;
}

namespace {

// Up to `most` of the index's files that `pathspecs` match.
std::vector<std::string> indexed_files(const path& repo_root, const std::vector<std::string>& pathspecs, size_t most) {
  std::vector<std::string> args = {"ls-files", "-z", "--"};
  args.insert(args.end(), pathspecs.begin(), pathspecs.end());
  const core::ProcessResult result = core::run_git(args, repo_root);
  return result.ok() ? pieces_of(result.out, '\0', most) : std::vector<std::string>{};
}

}  // namespace

std::vector<std::string> committed_tamrik_files(const path& repo_root) {
  return indexed_files(repo_root, {".tamrik", ".tamriklog"}, 3);
}

std::string committed_files_notice(const std::vector<std::string>& files) {
  if (files.empty()) return "";
  std::string names;
  for (const std::string& file : files) names += (names.empty() ? "" : ", ") + file;
  return "this repository's history holds tamrik's files (" + names +
         "...): someone committed them, so tamrik never takes them for its own configuration or follows a link "
         "among them. Take them out of the history's next commit with `git rm -r --cached .tamrik` and commit.";
}

bool history_holds(const path& repo_root, const std::string& relative) {
  return !indexed_files(repo_root, {":(literal)" + relative}, 1).empty();
}

}  // namespace tamrik::services::setup_list
