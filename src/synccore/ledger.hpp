#pragma once
// The ledger: .tamrik/log.jsonl, one JSON line per recorded commit, its one
// classification of records, and the three locked writers.
//
// Readers take no lock: rewrites replace the file atomically. Writers take
// core::locked(log_path). An append that cannot take the lock in time goes
// to a uniquely named spool file beside the ledger instead, because a slow
// rewrite holding the lock would rename over anything appended to the
// ledger meanwhile. Spooled lines are merged into the ledger by the next
// writer that holds the lock, and every reader sees them before that.

#include "core/json.hpp"

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrik::synccore {

using core::Json;
using std::filesystem::path;

// Exactly 40 (SHA-1) or 64 (SHA-256) lowercase hexadecimal digits.
inline constexpr std::string_view _GIT_HASH_RE = "^[0-9a-f]{40}([0-9a-f]{24})?$";

// Recording reason -> ledger `event` of a commit that carried no attestation.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 2> RECORD_REASON_EVENTS{{
    {"skipped", "attestation_skipped"},
    {"unattested", "commit_unattested"},
}};

// The `event` RECORD_REASON_EVENTS gives a recording reason ("skipped",
// "unattested"); a reason it does not know is a programming error.
constexpr std::string_view event_for_reason(std::string_view reason) {
  for (const auto& [known, event] : RECORD_REASON_EVENTS) {
    if (known == reason) return event;
  }
  throw std::logic_error("no ledger event for recording reason");
}

// Set on an attestation, and on its ledger line, when its staged diff hash
// matches no commit and it was filed on the commit it was asked for.
inline constexpr const char* kDiffHashMismatch = "diff_hash_mismatch";

// One read of the ledger. The only "has this reached the platform"
// predicate: reached means `synced` or `uploaded` set; unsent with a valid
// hash means pending; unsent without one means unaddressable.
struct AttestationLog {
  std::vector<Json> pending;  // unsent, addressable entries in file order
  size_t pending_count = 0;   // their number, also when they were not kept
  int uploaded = 0;
  int skipped = 0;
  int unaddressable = 0;
  int corrupt = 0;  // lines that are not JSON objects
  int attested = 0;
  int unattested = 0;
  int mismatched = 0;  // attested, but not with the change they describe

  size_t size() const { return pending_count; }
};

// Never fails: an unreadable ledger reads as empty, bad lines (and lines
// too long to hold) count as corrupt. The ledger is streamed, never held.
AttestationLog read_attestation_log(const path& log_path);
// read_attestation_log() for a ledger too large to hold: the pending entries
// go to `take` in file order, `window` at a time (the last window may be
// short), instead of being kept. Reading stops when `take` returns false;
// the counts cover the lines read.
using PendingWindow = std::function<bool(std::vector<Json>&& pending)>;
AttestationLog read_pending_in_windows(const path& log_path, size_t window, const PendingWindow& take);
// The same counts without keeping the pending entries.
AttestationLog count_attestation_log(const path& log_path);

bool _is_valid_commit_hash(std::string_view value);

// Whether a ledger line carries an attestation: only bare records of
// commits nobody attested have an `event`.
inline bool _carries_attestation(const Json& entry) { return entry.is_object() && !entry.contains("event"); }

// Whether any ledger line (or spooled line) is for `commit`. False when the
// ledger cannot be read: a duplicate beats a lost record.
bool _commit_already_logged(const path& log_path, std::string_view commit);

// Whether `full` has been recorded: its line is in the ledger or a spool.
// An archive alone is not a record: a writer killed while it waited for
// the lock leaves the archive without the line, and the commit must be
// recorded again, not skipped.
bool _already_recorded(const path& repo_root, std::string_view full);

// An attestation text, with or without "---" delimiters, as a map. Malformed
// or empty text gives an empty map; a non-map document is returned as is.
Json _parse_attestation_yaml(std::string_view content);

// Adds one entry under the ledger lock (or spools it, see above). Creates
// the ledger's directory. Throws OSError when nothing could be written. The
// ledger keeps one line per commit: for a commit it already holds, an entry
// with an attestation replaces that line and one without (it has `event`)
// is not added.
void _append_log_entry(const path& log_path, const Json& entry);

// Rewrites the first line whose `commit` equals entry["commit"]. False when
// there is none or the ledger is missing (the caller then appends), and also
// when the lock could not be taken: a rewrite without the lock could drop a
// line another writer is appending.
bool _replace_log_entry(const path& log_path, const Json& entry);

// Rewrites, in one pass, the line of each entry's commit with that entry
// (entries must name distinct commits). Returns the commits whose lines were
// rewritten: none when the ledger is missing or the lock could not be taken
// (see _replace_log_entry).
std::vector<std::string> _replace_log_entries(const path& log_path, const std::vector<Json>& entries);

// The ledger's entries (spooled ones included) for each of `commits`, by
// commit; a commit without a line is left out. Empty when the ledger cannot
// be read.
std::map<std::string, Json> _find_log_entries(const path& log_path, const std::vector<std::string>& commits);

// A ledger line the platform has taken: its commit, and the identity of
// the line as it was read and sent (_line_identity).
struct SentLine {
  std::string commit;
  std::string identity;
};

// The identity of a ledger line, from its parsed entry: a line rewritten
// since it was sent has another one.
std::string _line_identity(const Json& entry);

// Marks `sent` synced: appends them to the journal of accepted uploads
// (synccore/synced_journal.hpp), flushed before it returns; every reader
// counts a journalled line as reached from then on. Costs the batch, not
// the ledger. Without the lock nothing is marked: the batch is simply sent
// again by the next sync, which the platform accepts. Throws OSError.
void _mark_synced(const path& log_path, const std::vector<SentLine>& sent);

// Folds the journal into the ledger in one rewrite under the lock: each
// journalled line still as it was sent is marked synced (lines of other
// commits keep their bytes), then the journal goes. Without the lock, or
// when the rewrite gives way, the journal stays for the next fold. Throws
// OSError.
void _fold_synced(const path& log_path);

// Caps the time this process spends waiting for ledger locks, all waits
// together, from now on: a hook must not hold up a commit or a tool call.
// An append that runs out of it spools; a walk or a rewrite that does is
// left for the next trigger.
void limit_lock_waits(std::chrono::milliseconds total);
inline constexpr std::chrono::milliseconds kHookLockBudget{2'000};

// Appends raw ledger text (whole lines) under the ledger lock or to a spool
// file: the one way text other than an entry enters the ledger (the merge
// of an older ledger file).
void _append_log_text(const path& log_path, std::string_view text);

}  // namespace tamrik::synccore
