#pragma once
// The journal of accepted uploads: one line per ledger line the platform has
// taken, appended and flushed after each accepted batch, and folded into the
// ledger (its lines marked synced) once per upload run. Marking a batch then
// costs an append, not a rewrite of the whole ledger.
//
// An entry names the commit and the identity of the line as it was read
// and sent. A line rewritten since (an attestation attached, re-marked
// unsent on purpose) has another identity: the old entry no longer covers
// it and it is sent again.

#include "core/json.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"

#include <array>
#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::synccore::detail {

inline constexpr size_t kJournalReadCap = 32 << 20;
// Hex digits of SHA-256 kept as a line's identity.
inline constexpr size_t kIdentityLength = 32;

// The journal of ledger `log_path`: .platform/synced.journal beside it.
std::filesystem::path synced_journal_path(const std::filesystem::path& log_path);

// The journal's entries. A journal that cannot be read, or its part past
// kJournalReadCap, covers nothing: those lines stay pending and are sent
// again, which the platform accepts.
class SyncedJournal {
 public:
  static SyncedJournal read(const std::filesystem::path& log_path);

  bool empty() const { return entries_.empty(); }
  // False when the file is there but could not be read: it is then kept.
  bool readable() const { return readable_; }
  // Whether the platform holds `entry`'s line as it now reads.
  bool covers(const core::Json& entry) const;
  // Whether any entry names `commit` (a cheap filter before covers()).
  bool names(std::string_view commit) const;

 private:
  // Binary, fixed-size and sorted: a journal of a whole fold's lines stays
  // a few megabytes.
  struct Entry {
    std::array<uint8_t, 32> commit{};  // a 20-byte (40-digit) hash ends in zeros
    uint8_t commit_bytes = 0;
    std::array<uint8_t, kIdentityLength / 2> identity{};
    auto operator<=>(const Entry&) const = default;
  };
  static std::optional<Entry> entry_of(std::string_view commit, std::string_view identity);

  std::vector<Entry> entries_;
  bool readable_ = true;
};

// Appends `lines` to the journal in one write and flushes it. The caller
// holds the ledger lock (or the file system refuses locks). Throws OSError.
void append_synced(const std::filesystem::path& log_path, const std::vector<SentLine>& lines);

}  // namespace tamrik::synccore::detail
