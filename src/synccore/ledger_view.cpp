#include "synccore/ledger_view.hpp"

#include "core/file_io.hpp"
#include "core/reverse_line_reader.hpp"
#include "core/time_text.hpp"
#include "host/paths.hpp"
#include "synccore/attestation_archive.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/record_scan.hpp"

#include <algorithm>
#include <limits>
#include <set>
#include <utility>

namespace tamrik::synccore {

using core::Json;

std::string_view kind_name(RecordKind kind) {
  switch (kind) {
    case RecordKind::attested:
      return "attested";
    case RecordKind::unattested:
      return "unattested";
    case RecordKind::skipped:
      return "skipped";
  }
  return "attested";
}

std::string_view upload_name(UploadState state) {
  switch (state) {
    case UploadState::uploaded:
      return "uploaded";
    case UploadState::pending:
      return "pending";
    case UploadState::unaddressable:
      return "unaddressable";
  }
  return "pending";
}

namespace {

uint64_t saturating_add(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// A count: a non-negative whole number; anything else counts nothing.
uint64_t count_of(const Json& object, std::string_view key) {
  const auto value = object.find(key);
  if (value == object.end()) return 0;
  if (value->is_number_unsigned()) return value->get<uint64_t>();
  if (value->is_number_integer() && value->get<int64_t>() >= 0) return static_cast<uint64_t>(value->get<int64_t>());
  return 0;
}

std::optional<TokenCounts> tokens_of(const Json& entry) {
  const Json& tokens = core::member(core::member(entry, "telemetry"), "tokens");
  if (!tokens.is_object()) return std::nullopt;
  return TokenCounts{.input = count_of(tokens, "input"),
                     .output = count_of(tokens, "output"),
                     .cache = saturating_add(count_of(tokens, "cache_creation"), count_of(tokens, "cache_read"))};
}

std::string developer_of(const Json& entry) {
  const Json& developer = core::member(entry, "developer");
  if (developer.is_string()) return developer.get<std::string>();
  const std::string name = core::get_text(developer, "git_author_name");
  const std::string email = core::get_text(developer, "git_author_email");
  if (name.empty() || email.empty()) return name + email;
  return name + " <" + email + ">";
}

RecordKind kind_of(const Json& entry) {
  const std::string event = core::get_text(entry, "event");
  if (event == event_for_reason("skipped")) return RecordKind::skipped;
  if (event == event_for_reason("unattested")) return RecordKind::unattested;
  return RecordKind::attested;
}

UploadState upload_of(const Json& entry, const std::string& commit, const detail::SyncedJournal& journal) {
  if (core::is_set(entry, "synced") || core::is_set(entry, "uploaded")) return UploadState::uploaded;
  if (journal.names(commit) && journal.covers(entry)) return UploadState::uploaded;
  return _is_valid_commit_hash(commit) ? UploadState::pending : UploadState::unaddressable;
}

}  // namespace

TokenCounts& TokenCounts::operator+=(const TokenCounts& other) {
  input = saturating_add(input, other.input);
  output = saturating_add(output, other.output);
  cache = saturating_add(cache, other.cache);
  return *this;
}

RecordView view_of(Json entry, const detail::SyncedJournal& journal) {
  RecordView view;
  view.commit = core::get_text(entry, "commit");
  view.branch = core::get_text(entry, "branch");
  view.timestamp = core::get_text(entry, "timestamp");
  view.time = core::parse_iso8601(view.timestamp);
  view.agent = core::get_text(entry, "agent");
  view.model = core::get_text(core::member(entry, "telemetry"), "model");
  view.developer = developer_of(entry);
  view.summary = core::get_text(entry, "summary");
  view.kind = kind_of(entry);
  view.upload = upload_of(entry, view.commit, journal);
  view.tokens = tokens_of(entry);
  view.entry = std::move(entry);
  return view;
}

LedgerView::LedgerView(const std::filesystem::path& home)
    : home_(home), log_path_(paths::log_jsonl(home)), journal_(detail::SyncedJournal::read(log_path_)) {}

bool ledger_exists(const std::filesystem::path& home) {
  const std::filesystem::path log_path = paths::log_jsonl(home);
  return core::path_exists(log_path) || !detail::spool_files(log_path).empty();
}

void LedgerView::take(std::optional<std::string_view> line, const Visit& visit, bool& go_on) {
  if (line && detail::scan_record(*line, journal_, scanned_)) {
    go_on = visit(scanned_);
    return;
  }
  std::optional<Json> entry = line ? core::parse_json(*line) : std::nullopt;
  if (!entry || !entry->is_object()) {
    ++corrupt_;
    return;
  }
  RecordView parsed = view_of(std::move(*entry), journal_);
  go_on = visit(parsed);
}

// Spooled lines were appended after the ledger's, so they are the newest.
// A file that cannot be read (any longer) ends its part of the walk; what
// `visit` throws is the caller's.
void LedgerView::newest_first(const Visit& visit) {
  std::vector<std::filesystem::path> files = detail::spool_files(log_path_);
  std::reverse(files.begin(), files.end());
  files.push_back(log_path_);
  bool go_on = true;
  std::vector<std::optional<std::string_view>> pieces;  // of one line, which the ledger's separators may split
  for (const std::filesystem::path& file : files) {
    std::optional<core::ReverseLineReader> reader;
    core::LineReader::Line line;
    const auto previous = [&] {
      try {
        if (!reader) reader.emplace(file, detail::kLedgerLineCap);
        return reader->previous(line);
      } catch (const std::exception&) {
        return false;
      }
    };
    while (go_on && previous()) {
      pieces.clear();
      detail::visit_line(line, [&](std::optional<std::string_view> piece) { pieces.push_back(piece); });
      for (auto piece = pieces.rbegin(); go_on && piece != pieces.rend(); ++piece) take(*piece, visit, go_on);
    }
  }
}

void LedgerView::in_file_order(const std::function<void(RecordView& record)>& visit) {
  bool go_on = true;
  const Visit every = [&](RecordView& record) {
    visit(record);
    return true;
  };
  each_line_in_file_order([&](std::optional<std::string_view> line) { take(line, every, go_on); });
}

void LedgerView::each_line_in_file_order(const detail::LineVisitor& each) const {
  detail::visit_lines(log_path_, each);
  for (const std::filesystem::path& spool : detail::spool_files(log_path_)) detail::visit_lines(spool, each);
}

std::map<std::string, RecordView> LedgerView::find(const std::vector<std::string>& commits) {
  std::map<std::string, RecordView> found;
  for (auto& [commit, entry] : _find_log_entries(log_path_, commits))
    found.emplace(commit, view_of(std::move(entry), journal_));
  return found;
}

std::map<std::string, RecordView> LedgerView::find_views(const std::vector<std::string>& commits) {
  const std::set<std::string, std::less<>> wanted(commits.begin(), commits.end());
  std::map<std::string, RecordView> found;
  bool go_on = true;
  const Visit keep = [&](RecordView& record) {
    if (wanted.count(record.commit) != 0 && found.count(record.commit) == 0) {
      found.emplace(record.commit, record).first->second.entry = nullptr;
    }
    return true;
  };
  each_line_in_file_order([&](std::optional<std::string_view> line) {
    // Our writers' lines name their commit up front; any other line is read.
    const std::string_view leading = line ? detail::leading_commit(*line) : std::string_view();
    if (!leading.empty() && wanted.count(leading) == 0) return;
    take(line, keep, go_on);
  });
  return found;
}

void LedgerView::complete_from_archive(RecordView& record) const {
  if (record.completed) return;
  record.completed = true;
  const std::optional<Json> attestation = try_archived_attestation(home_, record.commit);
  if (!attestation || !attestation->is_object()) return;
  record.task_type = core::get_text(*attestation, "task_type");
  if (record.model.empty()) record.model = core::get_text(*attestation, "agent_model");
}

}  // namespace tamrik::synccore
