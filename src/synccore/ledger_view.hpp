#pragma once
// The ledger read for people: each record with what a reader asks of it
// (who, with which model, attested or not, uploaded or not, tokens), read
// newest first or in file order, streamed, never held whole. A view only
// reads: the ledger, its spools, the journal of accepted uploads and the
// attestation archive stay as they are.
//
// Everything here comes from the ledger, which came with the repository:
// text is kept as written (callers filter it before it reaches a terminal)
// and numbers are taken only when they are counts.

#include "core/json.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/synced_journal.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::synccore {

// What read_attestation_log() makes of a line: attested unless its `event`
// is one of the two recording reasons.
enum class RecordKind { attested, unattested, skipped };
std::string_view kind_name(RecordKind kind);

// Whether the platform holds the record: read_attestation_log()'s one
// predicate.
enum class UploadState { uploaded, pending, unaddressable };
std::string_view upload_name(UploadState state);

// Token counts as an agent's telemetry reports them; cache is cache
// creation and cache reads together. Sums stop at the largest count
// instead of wrapping.
struct TokenCounts {
  uint64_t input = 0;
  uint64_t output = 0;
  uint64_t cache = 0;
  TokenCounts& operator+=(const TokenCounts& other);
};

struct RecordView {
  core::Json entry;  // the parsed line: only find() parses every line it gives
  std::string commit;
  std::string branch;
  std::string timestamp;
  std::optional<double> time;  // `timestamp` in seconds since the epoch, when it parses
  std::string agent;
  std::string model;      // telemetry's, or the attestation's once completed
  std::string developer;  // "name <email>", or whichever of them the record holds
  std::string summary;
  std::string task_type;  // only once completed from the attestation
  RecordKind kind = RecordKind::attested;
  UploadState upload = UploadState::pending;
  std::optional<TokenCounts> tokens;  // absent when the record reports none
  bool completed = false;             // complete_from_archive() ran

  // Whether an agent made the commit, as far as the record can prove:
  // it names one ("unknown" is the recorders' word for "no proof").
  bool made_by_agent() const { return !agent.empty() && agent != "unknown"; }
};

class LedgerView {
 public:
  // The ledger of the repository whose home is `home` (.tamrik/log.jsonl).
  explicit LedgerView(const std::filesystem::path& home);

  // Visits every record, newest first (spools, then the ledger from its
  // end), until `visit` returns false. Memory is one line at a time: the
  // record visited is valid until `visit` returns (copy what is kept).
  using Visit = std::function<bool(RecordView& record)>;
  void newest_first(const Visit& visit);
  // Visits every record in file order, which is cheaper than newest first
  // when every line is read anyway.
  void in_file_order(const std::function<void(RecordView& record)>& visit);
  // The records of `commits`: the first line of each commit, parsed whole
  // (`entry` set). For a few commits: each is held with its whole line.
  std::map<std::string, RecordView> find(const std::vector<std::string>& commits);
  // The same without `entry`, for as many commits as a revision range
  // names: what is held is the views, not the lines.
  std::map<std::string, RecordView> find_views(const std::vector<std::string>& commits);

  // Adds what only the archived attestation holds: the task type, and the
  // model when the telemetry named none. Costs one file read.
  void complete_from_archive(RecordView& record) const;

  // Lines read so far that are not records (not JSON objects, or too long).
  int corrupt() const { return corrupt_; }

  const std::filesystem::path& home() const { return home_; }

 private:
  void take(std::optional<std::string_view> line, const Visit& visit, bool& go_on);
  // Every line of the ledger, then of its spools (appended after it).
  void each_line_in_file_order(const detail::LineVisitor& each) const;

  std::filesystem::path home_;
  std::filesystem::path log_path_;
  detail::SyncedJournal journal_;
  RecordView scanned_;  // reused line after line, buffers and all
  int corrupt_ = 0;
};

// Whether the repository whose home is `home` has a ledger (or a spool of
// one) at all.
bool ledger_exists(const std::filesystem::path& home);

// The view of one parsed ledger entry (an object).
RecordView view_of(core::Json entry, const detail::SyncedJournal& journal);

}  // namespace tamrik::synccore
