#pragma once
// Directories whose contents arrive with a repository someone else may have
// written. Below a confined directory every file operation of file_io walks
// from the directory's parent one component at a time, never following a
// link, and opens only regular files and directories; a link, a FIFO or a
// device there is refused as if it were not a file at all. The confined
// directory itself is checked the same way, so a link in its place is
// refused too. Everything above it (the repository's own path) is trusted.

#include <filesystem>
#include <optional>
#include <string>

#include "core/file_io.hpp"

namespace tamrik::core {

// Confines `dir` for the rest of the process. Cheap to repeat.
void confine(const std::filesystem::path& dir);

// Where a file operation on a path happens: its parent directory, opened,
// and its last component. `confined` says whether the rules above apply.
struct Located {
  UniqueFd dir;
  std::string name;
  bool confined = false;
};

// Whether `file` is at or below a confined directory.
bool is_confined(const std::filesystem::path& file);

// For `file` at or below a confined directory: its parent opened without
// following links, creating missing directories (mode 755) when
// `create_parents`. nullopt for any other file, which the caller handles as
// usual. Throws OSError naming `file` (ELOOP or ENOTDIR for a refused link).
std::optional<Located> locate_confined(const std::filesystem::path& file, bool create_parents = false);

// locate_confined(), or for any other file its parent opened as usual.
Located locate(const std::filesystem::path& file);

}  // namespace tamrik::core
