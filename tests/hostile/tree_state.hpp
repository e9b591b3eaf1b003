#pragma once
// What a directory tree holds, entry by entry, read without following a
// link or opening anything but a regular file: to tell what a run created,
// removed or changed in it.

#include "support/test_env.hpp"

#include <map>
#include <string>
#include <vector>

namespace tamrik::testing {

struct EntryState {
  std::string kind;     // type, mode, and for a file its size and modification time
  std::string content;  // a regular file's bytes, up to 1 MiB
};

// By path relative to the root.
using TreeState = std::map<std::string, EntryState>;

// The tree under `root`, leaving out the `skipped` paths (relative to the
// root) and everything below them.
TreeState tree_state(const fs::path& root, const std::vector<fs::path>& skipped);

// One line per path created, removed or changed between the two states.
std::vector<std::string> tree_changes(const TreeState& before, const TreeState& after);

}  // namespace tamrik::testing
