#pragma once
// Marks commits synced as an upload does: their lines, as they now read,
// go to the journal of accepted uploads, which is then folded into the
// ledger.

#include "core/json.hpp"
#include "synccore/ledger.hpp"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tamrik::testing {

// `batch` is an array of entries; only their `commit` is used. Returns how
// many of them had a line to mark (none when the ledger cannot be read).
inline size_t mark_synced(const std::filesystem::path& log_path, const core::Json& batch) {
  std::vector<std::string> commits;
  for (const core::Json& item : batch) {
    if (item.is_object() && item.contains("commit") && item["commit"].is_string()) {
      commits.push_back(item["commit"].get<std::string>());
    }
  }
  std::vector<synccore::SentLine> sent;
  const std::map<std::string, core::Json> found = synccore::_find_log_entries(log_path, commits);
  for (const auto& [commit, entry] : found) sent.push_back({commit, synccore::_line_identity(entry)});
  synccore::_mark_synced(log_path, sent);
  synccore::_fold_synced(log_path);
  return sent.size();
}

}  // namespace tamrik::testing
