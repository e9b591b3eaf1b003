#pragma once
// Counting the ledger without reading it whole each time: a small cache of
// the counts of its first bytes, read on from there after appends.
//
// The cache (.platform/ledger-counts.json beside the ledger) names the
// ledger file it counted (device, inode), the offset its counts cover (the
// end of the last whole line read), the file's modification time, a hash
// of the bytes just before that offset, and the journal of accepted
// uploads as it was. It is used only while all of these still hold: an
// append reads on from the offset; a rewrite (a new file), a changed
// journal, or a cache that does not parse counts from the start again.
// Spooled lines are always counted afresh. It is an accelerator only:
// thrown away, it costs one full read.

#include "synccore/ledger.hpp"
#include "synccore/synced_journal.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace tamrik::synccore::detail {

std::filesystem::path ledger_counts_cache_path(const std::filesystem::path& log_path);

// A ledger smaller than this is counted directly and never cached.
inline constexpr size_t kCountsCacheMinLedger = 1 << 20;
// How far past the cache's offset a count reads before it writes the cache
// again.
inline constexpr size_t kCountsCacheStep = 64 << 10;

// Carries the cache through the fold of the journal into the ledger, which
// changes no count (a journalled line reads as uploaded, and so does the
// line marked synced in its place) except for lines the cache counted while
// no journal existed: those move from pending to uploaded. Without this the
// first status after every upload would count the whole ledger again. A
// cache that does not hold for the ledger as the fold found it, or that was
// counted with a journal, is left to be counted afresh.
class CountsCarry {
 public:
  explicit CountsCarry(const std::filesystem::path& log_path);
  ~CountsCarry();
  CountsCarry(const CountsCarry&) = delete;
  CountsCarry& operator=(const CountsCarry&) = delete;

  // Where the fold's next line of the ledger starts, and where it goes.
  void placed(size_t old_offset, size_t new_offset);
  // The fold marked this line (as it read before) synced.
  void marked(const core::Json& before);
  // After the new ledger is in place and the journal gone: best effort.
  void write(const std::filesystem::path& log_path);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Counts one ledger line (nullopt: too long to hold) into `log` as
// read_attestation_log() classifies it.
void count_line(std::optional<std::string_view> line, const SyncedJournal& journal, AttestationLog& log,
                bool keep_pending);

}  // namespace tamrik::synccore::detail
