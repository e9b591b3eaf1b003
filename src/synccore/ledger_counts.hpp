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
#include <optional>
#include <string_view>

namespace tamrik::synccore::detail {

std::filesystem::path ledger_counts_cache_path(const std::filesystem::path& log_path);

// A ledger smaller than this is counted directly and never cached.
inline constexpr size_t kCountsCacheMinLedger = 1 << 20;

// Counts one ledger line (nullopt: too long to hold) into `log` as
// read_attestation_log() classifies it.
void count_line(std::optional<std::string_view> line, const SyncedJournal& journal, AttestationLog& log,
                bool keep_pending);

}  // namespace tamrik::synccore::detail
