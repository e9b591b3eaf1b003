#pragma once
// Proving a commit absent from a large ledger without reading it whole.
//
// The index (.platform/commit-index beside the ledger) covers the ledger's
// first bytes, named by a LedgerMark: for every line there that names a
// commit (a 40- or 64-digit hash), the number its first 16 digits make and
// the line's offset, sorted. A lookup finds the candidate lines by that
// number and reads each to check it, then reads the ledger on from where the
// index ends; so the index only ever speeds an answer up: a foreign, stale
// or damaged one is ignored. A reader that read far past the index's end
// writes a new one, and every whole-ledger rewrite writes one for the new
// file, so the part read line by line stays short.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace tamrik::synccore::detail {

std::filesystem::path commit_index_path(const std::filesystem::path& log_path);

// A ledger smaller than this is read line by line and never indexed.
inline constexpr size_t kCommitIndexMinLedger = 1 << 20;
// How far past the index's end a reader reads before it writes a new one.
inline constexpr size_t kCommitIndexStep = 4 << 20;

// Whether ledger file `log_path` holds a line recording `commit`: the
// answer of file_holds_commit(), through the index where it holds.
bool ledger_holds_commit(const std::filesystem::path& log_path, std::string_view commit);

// The index of a ledger being rewritten: add() each line as it is written,
// then write() once the new ledger is in place. Does nothing for a ledger
// below kCommitIndexMinLedger.
class CommitIndexBuilder {
 public:
  struct Entry {
    uint64_t key;
    uint64_t offset;
    auto operator<=>(const Entry&) const = default;  // by key, then offset
  };

  explicit CommitIndexBuilder(size_t ledger_size);

  // The file line `line` (without its "\n") starts at `offset`.
  void add(std::string_view line, size_t offset);

  // Best effort: the index of the first `covered` bytes of the new ledger.
  void write(const std::filesystem::path& log_path, size_t covered);

 private:
  bool enabled_;
  std::vector<Entry> entries_;
};

}  // namespace tamrik::synccore::detail
