#pragma once
// A JSON settings file tamrik edits a part of (an agent's settings or hook
// file, a project's .mcp.json, Claude Code's ~/.claude.json): edited as
// text (core/json_edit.hpp), so every byte outside tamrik's part stays, and
// written only when the text changed.

#include "core/json_edit.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace tamrik::utils::json_file {

// The file's editor; a missing or blank file starts as "{}\n". Throws
// JSONDecodeError naming the file and what to do when it is not a JSON
// object, OSError when it cannot be read.
core::JsonTextEditor open(const std::filesystem::path& file);

// Writes the editor's text when it differs from the file's (nothing when
// the file is missing and the text is the empty "{}\n" open() starts
// with). With `remove_when_empty`, a file left holding an empty object is
// removed instead, unless it is a link. Returns whether the file changed.
bool save(const std::filesystem::path& file, const core::JsonTextEditor& editor, mode_t mode_when_new,
          bool remove_when_empty = false);

}  // namespace tamrik::utils::json_file
