#pragma once
// The repositories this user set tamrik up in on this machine, by real path,
// one per line in $XDG_CONFIG_HOME/tamrik/repositories (~/.config/... without
// XDG). Hooks, the session summary, catch-up and sync act only in a listed
// repository: a .tamrik/ directory can arrive with a clone, so its presence
// alone never makes a repository count as set up.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::services::setup_list {

using std::filesystem::path;

// The list's file; nullopt without HOME or an absolute XDG_CONFIG_HOME.
std::optional<path> list_file();

// Whether `repo_root` is listed and still has its local configuration. A
// repository set up before the list existed is listed here the first time
// it is asked about, when the repository's own git directory holds tamrik's
// post-commit hook: git never clones hooks, so only a setup run on this
// machine can have put it there. Never throws.
bool is_set_up(const path& repo_root);

// Adds or removes `repo_root`; returns whether the list changed. Throws
// OSError (or core::Error for a path that cannot be listed: one with a line
// break).
bool add(const path& repo_root);
bool remove(const path& repo_root);

// The listed repositories other than `repo_root` that are still set up: the
// directory is there with its local configuration. A line left behind by a
// repository deleted from disk does not count. Never throws.
std::vector<path> others_set_up(const path& repo_root);

// Files under .tamrik (or the old .tamriklog) that the repository's history
// holds: committed by someone, so never tamrik's own state. At most a few,
// for a message; empty when there are none or git cannot say.
std::vector<std::string> committed_tamrik_files(const path& repo_root);

// What to tell the person about committed_tamrik_files(); "" for none.
std::string committed_files_notice(const std::vector<std::string>& files);

// Whether the repository's index holds `relative` (a path from its root).
bool history_holds(const path& repo_root, const std::string& relative);

}  // namespace tamrik::services::setup_list
