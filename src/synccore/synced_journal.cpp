#include "synccore/synced_journal.hpp"

#include "core/file_io.hpp"
#include "core/line_reader.hpp"
#include "core/sha256.hpp"

#include <algorithm>

namespace tamrik::synccore::detail {

namespace {

constexpr size_t kJournalLineCap = 256;

bool is_hex(std::string_view text) { return text.find_first_not_of("0123456789abcdef") == std::string_view::npos; }

uint8_t nibble(char digit) { return static_cast<uint8_t>(digit <= '9' ? digit - '0' : digit - 'a' + 10); }

// The bytes lowercase hex `digits` spell, into `out`.
void unhex(std::string_view digits, uint8_t* out) {
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out[i / 2] = static_cast<uint8_t>(nibble(digits[i]) << 4 | nibble(digits[i + 1]));
  }
}

}  // namespace

std::filesystem::path synced_journal_path(const std::filesystem::path& log_path) {
  return ledger_state_file(log_path, "synced.journal");
}

std::optional<SyncedJournal::Entry> SyncedJournal::entry_of(std::string_view commit, std::string_view identity) {
  if (!_is_valid_commit_hash(commit) || identity.size() != kIdentityLength || !is_hex(identity)) return std::nullopt;
  Entry entry;
  unhex(commit, entry.commit.data());
  entry.commit_bytes = static_cast<uint8_t>(commit.size() / 2);
  unhex(identity, entry.identity.data());
  return entry;
}

SyncedJournal SyncedJournal::read(const std::filesystem::path& log_path) {
  SyncedJournal journal;
  const std::filesystem::path file = synced_journal_path(log_path);
  if (!core::path_exists(file)) return journal;
  try {
    core::LineReader reader(file, kJournalLineCap);
    core::LineReader::Line line;
    while (reader.next(line) && reader.consumed() <= kJournalReadCap) {
      // "<commit> <identity>"; a torn or foreign line covers nothing.
      const size_t space = line.text.find(' ');
      if (line.too_long || space == std::string_view::npos) continue;
      if (std::optional<Entry> entry = entry_of(line.text.substr(0, space), line.text.substr(space + 1))) {
        journal.entries_.push_back(*entry);
      }
    }
  } catch (const std::exception&) {
    journal = {};
    journal.readable_ = false;
  }
  std::sort(journal.entries_.begin(), journal.entries_.end());
  return journal;
}

bool SyncedJournal::names(std::string_view commit) const {
  const std::optional<Entry> first = entry_of(commit, std::string(kIdentityLength, '0'));
  if (!first) return false;
  const auto found = std::lower_bound(entries_.begin(), entries_.end(), *first);
  return found != entries_.end() && found->commit == first->commit && found->commit_bytes == first->commit_bytes;
}

bool SyncedJournal::covers(const core::Json& entry) const {
  const auto commit = entry.find("commit");
  if (commit == entry.end() || !commit->is_string() || !names(commit->get_ref<const std::string&>())) return false;
  const std::optional<Entry> wanted = entry_of(commit->get_ref<const std::string&>(), _line_identity(entry));
  return wanted && std::binary_search(entries_.begin(), entries_.end(), *wanted);
}

void append_synced(const std::filesystem::path& log_path, const std::vector<SentLine>& lines) {
  if (lines.empty()) return;
  std::string text;
  for (const SentLine& line : lines) text += line.commit + " " + line.identity + "\n";
  const std::filesystem::path file = synced_journal_path(log_path);
  core::make_dirs(file.parent_path());
  core::append_line(file, text, core::Durability::flush);
}

}  // namespace tamrik::synccore::detail

namespace tamrik::synccore {

std::string _line_identity(const Json& entry) {
  return core::sha256_hex(core::to_json_line(entry)).substr(0, detail::kIdentityLength);
}

}  // namespace tamrik::synccore
