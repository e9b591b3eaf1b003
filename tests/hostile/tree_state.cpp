#include "hostile/tree_state.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace tamrik::testing {

namespace {

constexpr off_t kContentLimit = 1 << 20;

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

EntryState entry_state(const fs::path& entry) {
  struct stat st {};
  if (::lstat(entry.c_str(), &st) != 0) return {"unreadable", ""};
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    return {"link to " + fs::read_symlink(entry, ec).string(), ""};
  }
  // A directory's own times move whenever an entry below it comes or goes,
  // in the places tamrik may write too; its entries are compared instead.
  if (S_ISDIR(st.st_mode)) return {"directory " + octal(st.st_mode), ""};
  if (!S_ISREG(st.st_mode)) return {"special file " + octal(st.st_mode), ""};
  const std::string kind = "file " + octal(st.st_mode) + ", " + std::to_string(st.st_size) + " bytes, modified " +
                           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
  return {kind, st.st_size <= kContentLimit ? read_text(entry) : ""};
}

}  // namespace

TreeState tree_state(const fs::path& root, const std::vector<fs::path>& skipped) {
  TreeState state;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path relative = it->path().lexically_relative(root);
    if (std::find(skipped.begin(), skipped.end(), relative) != skipped.end()) {
      it.disable_recursion_pending();
      continue;
    }
    state[relative.string()] = entry_state(it->path());
  }
  return state;
}

std::vector<std::string> tree_changes(const TreeState& before, const TreeState& after) {
  std::vector<std::string> changes;
  for (const auto& [entry, was] : before) {
    const auto now = after.find(entry);
    if (now == after.end()) {
      changes.push_back("removed " + entry + " (" + was.kind + ")");
    } else if (now->second.kind != was.kind) {
      changes.push_back("changed " + entry + ": " + was.kind + " -> " + now->second.kind);
    } else if (now->second.content != was.content) {
      changes.push_back("rewrote " + entry);
    }
  }
  for (const auto& [entry, now] : after) {
    if (!before.contains(entry)) changes.push_back("created " + entry + " (" + now.kind + ")");
  }
  return changes;
}

}  // namespace tamrik::testing
