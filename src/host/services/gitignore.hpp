#pragma once
// The ignore entries that keep tamrik's own files out of the user's commits:
// recording a commit writes the ledger, and that must never leave the
// working tree dirty. The entries live in a marked block of the
// repository's .gitignore, so setup can add them and uninstall remove them
// without touching the user's lines.

#include <array>
#include <filesystem>
#include <string_view>
#include <span>

namespace tamrik::services::shared {

// Everything under .tamrik is local state: the ledger, the attestation
// archive, the pending attestation, configuration and cached context.
// agent/skills is a stray copy of the platform skills that the public skills
// installer writes beside the real one (.agents/skills); tamrik leaves it in
// place but keeps it out of commits.
inline constexpr std::array<std::string_view, 2> TAMRIK_GITIGNORE_ENTRIES = {"/.tamrik/", "/agent/skills/"};

// Makes the repository's .gitignore hold `entries` in tamrik's block,
// creating the file when needed. Returns whether the file changed (false on
// a second run). Throws OSError.
bool ensure_gitignore(const std::filesystem::path& repo_root,
                      std::span<const std::string_view> entries = TAMRIK_GITIGNORE_ENTRIES);

// Removes tamrik's block; a .gitignore left empty is removed. Returns
// whether anything changed. Throws OSError.
bool remove_gitignore_entries(const std::filesystem::path& repo_root);

// Whether the repository's .gitignore holds tamrik's block.
bool has_gitignore_entries(const std::filesystem::path& repo_root);

}  // namespace tamrik::services::shared
