// Reading the ledger: classification, lookups, attestation text parsing.

#include "synccore/ledger.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/line_reader.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "host/services/shared.hpp"
#include "synccore/commit_index.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/ledger_counts.hpp"
#include "synccore/synced_journal.hpp"

#include <algorithm>
#include <cstdint>
#include <set>
#include <utility>

namespace tamrik::synccore {

namespace {

// A line is reached when it says so, or when the journal of accepted
// uploads holds it as it now reads.
void classify(const Json& entry, const detail::SyncedJournal& journal, AttestationLog& log, bool keep_pending) {
  const std::string event = core::get_text(entry, "event");
  if (event == event_for_reason("skipped")) {
    ++log.skipped;
  } else if (event == event_for_reason("unattested")) {
    ++log.unattested;
  } else {
    ++log.attested;
    if (core::is_set(entry, kDiffHashMismatch)) ++log.mismatched;
  }
  if (core::is_set(entry, "synced") || core::is_set(entry, "uploaded") || journal.covers(entry)) {
    ++log.uploaded;
    return;
  }
  const auto commit = entry.find("commit");
  // A non-text commit can never address a record, like a malformed hash.
  if (commit == entry.end() || !commit->is_string() || !_is_valid_commit_hash(commit->get_ref<const std::string&>())) {
    ++log.unaddressable;
    return;
  }
  ++log.pending_count;
  if (keep_pending) log.pending.push_back(entry);
}

}  // namespace

namespace detail {

void count_line(std::optional<std::string_view> line, const SyncedJournal& journal, AttestationLog& log,
                bool keep_pending) {
  std::optional<Json> entry = line ? core::parse_json(*line) : std::nullopt;
  if (!entry || !entry->is_object()) {
    ++log.corrupt;
    return;
  }
  classify(*entry, journal, log, keep_pending);
}

}  // namespace detail

namespace {

// Visits the lines of `file` while `go_on` holds. A file that cannot be
// read (any longer) ends its visit; what `visit` throws is the caller's.
void visit_lines_while(const path& file, const bool& go_on, const detail::LineVisitor& visit) {
  std::optional<core::LineReader> reader;
  try {
    reader.emplace(file, detail::kLedgerLineCap);
  } catch (const std::exception&) {
    return;
  }
  core::LineReader::Line line;
  while (go_on) {
    try {
      if (!reader->next(line)) return;
    } catch (const std::exception&) {
      return;
    }
    detail::visit_line(line, visit);
  }
}

}  // namespace

// Reads the ledger and then its spools: spooled lines belong to the ledger
// already; they only wait for a writer that holds the lock to move them in.
AttestationLog read_pending_in_windows(const path& log_path, size_t window, const PendingWindow& take) {
  AttestationLog log;
  const detail::SyncedJournal journal = detail::SyncedJournal::read(log_path);
  bool go_on = true;
  const auto visit = [&](std::optional<std::string_view> line) {
    detail::count_line(line, journal, log, true);
    if (log.pending.size() >= window) go_on = take(std::exchange(log.pending, {}));
  };
  visit_lines_while(log_path, go_on, visit);
  for (const path& spool : detail::spool_files(log_path)) visit_lines_while(spool, go_on, visit);
  if (go_on && !log.pending.empty()) take(std::exchange(log.pending, {}));
  return log;
}

AttestationLog read_attestation_log(const path& log_path) {
  std::vector<Json> pending;
  AttestationLog log = read_pending_in_windows(log_path, SIZE_MAX, [&](std::vector<Json>&& all) {
    pending = std::move(all);
    return true;
  });
  log.pending = std::move(pending);
  return log;
}

bool _is_valid_commit_hash(std::string_view value) {
  if (value.size() != 40 && value.size() != 64) return false;
  for (char c : value) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool _commit_already_logged(const path& log_path, std::string_view commit) {
  if (detail::ledger_holds_commit(log_path, commit)) return true;
  for (const path& spool : detail::spool_files(log_path)) {
    if (detail::file_holds_commit(spool, commit)) return true;
  }
  return false;
}

bool _already_recorded(const path& repo_root, std::string_view full) {
  return _commit_already_logged(paths::log_jsonl(repo_root), full);
}

std::map<std::string, Json> _find_log_entries(const path& log_path, const std::vector<std::string>& commits) {
  std::map<std::string, Json> found;
  const std::set<std::string, std::less<>> wanted(commits.begin(), commits.end());
  const auto visit = [&](std::optional<std::string_view> line) {
    if (!line) return;
    // Lines of our own writers name their commit up front; any other line
    // is one only when it holds a commit's text.
    const std::string_view leading = detail::leading_commit(*line);
    const auto held = [&](const std::string& commit) { return line->find(commit) != std::string_view::npos; };
    if (leading.empty() ? std::none_of(wanted.begin(), wanted.end(), held) : wanted.count(leading) == 0) return;
    std::optional<Json> entry = core::parse_json(*line);
    if (!entry || !entry->is_object()) return;
    const std::string commit = core::get_text(*entry, "commit");
    // The first line of a commit is its record.
    if (wanted.count(commit) != 0 && found.count(commit) == 0) found[commit] = std::move(*entry);
  };
  detail::visit_lines(log_path, visit);
  for (const path& spool : detail::spool_files(log_path)) detail::visit_lines(spool, visit);
  return found;
}

Json _parse_attestation_yaml(std::string_view content) {
  Json loaded;
  try {
    loaded = core::load_yaml(services::shared::strip_yaml_delimiters(content));
  } catch (const core::YAMLError&) {
    return Json::object();
  }
  if (loaded.is_null() || (loaded.is_object() && loaded.empty())) return Json::object();
  return loaded;
}

}  // namespace tamrik::synccore
