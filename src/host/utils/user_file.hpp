#pragma once
// Files that belong to the user and that tamrik edits a part of (a git
// hook, an ignore file, an agent's settings): rewritten whole and
// atomically, keeping the file's permissions and the links to it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tamrik::utils::user_file {

// The file's text; nullopt when it does not exist. Throws OSError when it
// exists but cannot be read.
std::optional<std::string> read_if_exists(const std::filesystem::path& file);

// Where a write to `file` lands: `file` itself, or the end of its chain of
// links (which may not exist yet); nullopt when the chain cannot be
// followed (a loop).
std::optional<std::filesystem::path> link_target(const std::filesystem::path& file);

// Replaces `file` with `text` atomically, creating missing directories. The
// file keeps its permission bits; a new file gets `mode_when_new`. A link
// outside confined directories (core/confinement.hpp) is written through:
// its target is replaced, in the target's directory, and the link stays.
// Throws OSError.
void replace(const std::filesystem::path& file, std::string_view text, mode_t mode_when_new);

// Removes the file; a missing one is fine. Throws OSError.
void remove(const std::filesystem::path& file);

}  // namespace tamrik::utils::user_file
