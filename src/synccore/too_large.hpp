#pragma once
// Records set aside as too large for the platform: over the client's own
// cap, or refused by the platform for their size (413). Such a record stays
// pending in the ledger, whose line is never touched for this; it is not
// sent again until its encoded bytes change (its attestation or change
// ledger shortened), so it cannot hold back the records after it.
//
// .tamrik/.platform/too-large.json keeps them, in ledger order, by commit:
// {"<commit>": {"sha256": "<hex of the encoded record>", "bytes": <length>}}.
// Each upload rewrites it with what that upload set aside.

#include "core/json.hpp"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace tamrik::synccore {

using core::Json;
using std::filesystem::path;

// The largest encoded record sent: a little under the platform's 8 MiB
// request limit, which also holds the request's own wrapper.
inline constexpr size_t MAX_RECORD_BYTES = (8u << 20) - (64u << 10);

struct TooLargeRecord {
  std::string commit;
  std::string sha256;  // of the record's encoded bytes when it was set aside
  size_t bytes = 0;
};

// What the last upload set aside; empty when nothing was, or when the file
// cannot be read (the records are then simply tried again).
std::vector<TooLargeRecord> read_too_large_records(const path& repo_root);

// One upload's set-aside records: those of the last upload that have not
// changed, and those this upload sets aside.
class TooLargeRecords {
 public:
  explicit TooLargeRecords(const path& repo_root);

  // `records` without those held back: any over MAX_RECORD_BYTES, and any
  // the last upload set aside whose encoded bytes are unchanged.
  std::vector<Json> hold_back(std::vector<Json> records);
  // A record the platform refused for its size.
  void set_aside(const Json& record);
  size_t size() const { return now_.size(); }
  // Rewrites the file when what is set aside changed (removes it when
  // nothing is). Best effort: a failure is logged, and only costs sending
  // those records once more.
  void save() const;

 private:
  void add(TooLargeRecord record);

  path repo_root_;
  std::vector<TooLargeRecord> before_;
  std::vector<TooLargeRecord> now_;
};

}  // namespace tamrik::synccore
