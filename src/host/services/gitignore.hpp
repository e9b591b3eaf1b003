#pragma once
// The ignore entries that keep tamrik's own files out of the user's commits:
// recording a commit writes the ledger, and that must never leave the
// working tree dirty. The entries live in a marked block of the
// repository's info/exclude, in git's common directory (one for every
// worktree): a file of this machine's clone that git never commits, so
// setting tamrik up changes no tracked file.
//
// Setups of earlier versions kept the block in the tracked .gitignore.
// migrate_gitignore_block() moves it when that gives the .gitignore back as
// it was; a block the repository's history holds is the team's and stays.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <span>

namespace tamrik::services::shared {

// Everything under .tamrik is local state: the ledger, the attestation
// archive, the pending attestation, configuration and cached context.
inline constexpr std::array<std::string_view, 1> TAMRIK_GITIGNORE_ENTRIES = {"/.tamrik/"};

// A stray copy of the platform skills that the public skills installer
// writes beside the real one (.agents/skills). Ignored only when the
// installer created the directory: a repository's own agent/skills is not
// tamrik's to hide.
inline constexpr std::string_view SKILLS_INSTALLER_ENTRY = "/agent/skills/";

// The repository's info/exclude, where git keeps it for `repo_root`.
// Throws OSError when git cannot say (not a repository).
std::filesystem::path exclude_file(const std::filesystem::path& repo_root);

// Makes tamrik's block in info/exclude hold `entries`, keeping the entries
// it already holds. Returns whether the file changed (false on a second
// run). Throws OSError.
bool ensure_gitignore(const std::filesystem::path& repo_root,
                      std::span<const std::string_view> entries = TAMRIK_GITIGNORE_ENTRIES);

enum class Migration {
  none,            // the .gitignore holds no block of tamrik's
  moved,           // the block went to info/exclude; the .gitignore is as it was before
  kept_committed,  // the repository's history holds the block: left where it is
};

// Moves the block an earlier setup wrote into the .gitignore to
// info/exclude: the block leaves the .gitignore, which is removed when it
// held nothing else and git does not track it. Its /.tamrik/ entry always
// goes along; its agent/skills entry only when that directory is there and
// git tracks nothing in it.
// Throws OSError.
Migration migrate_gitignore_block(const std::filesystem::path& repo_root);

// What setup says about a migration; "" for none.
std::string migration_notice(Migration migration);

// For uninstall: an uncommitted block leaves the .gitignore, and the block
// in info/exclude keeps only the entries whose directory is still there
// (the ledger stays, so .tamrik stays ignored); a block left with nothing
// goes. Returns whether anything changed. Throws OSError.
bool remove_gitignore_entries(const std::filesystem::path& repo_root);

// Whether info/exclude or the .gitignore holds tamrik's block.
bool has_gitignore_entries(const std::filesystem::path& repo_root);

// Whether git's index holds any file below `relative` (a directory, from
// the root).
bool git_tracks_any_below(const std::filesystem::path& repo_root, std::string_view relative);

}  // namespace tamrik::services::shared
