#pragma once
// Marks commits synced as an upload does: their lines, as they now read,
// go to the journal of accepted uploads, which is then folded into the
// ledger.

#include "core/json.hpp"
#include "synccore/ledger.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace tamrik::testing {

// `batch` is an array of entries; only their `commit` is used.
inline void mark_synced(const std::filesystem::path& log_path, const core::Json& batch) {
  std::vector<std::string> commits;
  for (const core::Json& item : batch) {
    if (item.is_object() && item.contains("commit") && item["commit"].is_string()) {
      commits.push_back(item["commit"].get<std::string>());
    }
  }
  std::vector<synccore::SentLine> sent;
  for (const auto& [commit, entry] : synccore::_find_log_entries(log_path, commits)) {
    sent.push_back({commit, synccore::_line_identity(entry)});
  }
  synccore::_mark_synced(log_path, sent);
  synccore::_fold_synced(log_path);
}

}  // namespace tamrik::testing
