#include "host/agents/transcript_files.hpp"

#include "host/agents/env_markers.hpp"
#include "host/paths.hpp"

#include <sys/stat.h>

#include <algorithm>

namespace tamrik::agents {

namespace fs = std::filesystem;

namespace {

bool name_fits(const fs::path& file, std::string_view prefix, std::string_view suffix) {
  const std::string name = file.filename().string();
  return name.size() >= prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

template <typename Keep>
std::vector<path> entries_of(const path& dir, Keep keep) {
  std::vector<path> found;
  std::error_code ec;
  fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (keep(*it)) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

std::optional<path> harness_home(const char* env_var, std::string_view in_home) {
  if (auto dir = env_text(env_var)) return path(*dir);
  if (auto home = env_text("HOME")) return path(*home) / in_home;
  return std::nullopt;
}

std::optional<path> claude_code_home() { return harness_home("CLAUDE_CONFIG_DIR", ".claude"); }

std::optional<path> codex_home() { return harness_home("CODEX_HOME", ".codex"); }

bool is_safe_session_id(std::string_view id) {
  // The same rule that keeps change slugs from naming paths outside their
  // directory: no separators, no "..", no hidden names.
  return paths::is_safe_slug(id);
}

std::vector<path> files_in(const path& dir, std::string_view prefix, std::string_view suffix) {
  return entries_of(dir, [&](const fs::directory_entry& entry) {
    std::error_code ec;
    return name_fits(entry.path(), prefix, suffix) && entry.is_regular_file(ec);
  });
}

std::vector<path> dirs_in(const path& dir) {
  return entries_of(dir, [](const fs::directory_entry& entry) {
    std::error_code ec;
    return entry.is_directory(ec);
  });
}

std::vector<path> files_below(const path& root, int depth, std::string_view prefix, std::string_view suffix) {
  std::vector<path> found = files_in(root, prefix, suffix);
  if (depth > 0) {
    for (const path& dir : dirs_in(root)) {
      std::vector<path> deeper = files_below(dir, depth - 1, prefix, suffix);
      found.insert(found.end(), deeper.begin(), deeper.end());
    }
  }
  return found;
}

bool is_plain_file(const path& file) {
  std::error_code ec;
  return fs::is_regular_file(file, ec);
}

bool written_since(const path& file, std::optional<double> since) {
  if (!since) return true;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return false;
  const double modified = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) * 1e-9;
  return modified >= *since;
}

}  // namespace tamrik::agents
