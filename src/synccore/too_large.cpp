#include "synccore/too_large.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/log.hpp"
#include "core/sha256.hpp"
#include "host/paths.hpp"
#include "synccore/diagnostics.hpp"
#include "synccore/ledger.hpp"

#include <algorithm>

namespace tamrik::synccore {

namespace {

bool is_sha256_hex(const Json& value) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The file came with the repository's directory: entries that do not have
// the shape this module writes are left out.
std::vector<TooLargeRecord> records_in(const Json& document) {
  std::vector<TooLargeRecord> records;
  if (!document.is_object()) return records;
  for (const auto& [commit, entry] : document.items()) {
    if (!_is_valid_commit_hash(commit) || !entry.is_object()) continue;
    const auto sha = entry.find("sha256");
    const auto bytes = entry.find("bytes");
    if (sha == entry.end() || !is_sha256_hex(*sha) || bytes == entry.end() || !bytes->is_number_unsigned()) continue;
    records.push_back({commit, sha->get<std::string>(), bytes->get<size_t>()});
  }
  return records;
}

bool same_records(const std::vector<TooLargeRecord>& a, const std::vector<TooLargeRecord>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TooLargeRecord& x, const TooLargeRecord& y) {
    return x.commit == y.commit && x.sha256 == y.sha256 && x.bytes == y.bytes;
  });
}

}  // namespace

std::vector<TooLargeRecord> read_too_large_records(const path& repo_root) {
  const std::optional<std::string> text = core::try_read_file(paths::too_large_records(repo_root), core::kSmallFileCap);
  if (!text) return {};
  const std::optional<Json> document = core::parse_json(*text);
  return document ? records_in(*document) : std::vector<TooLargeRecord>{};
}

TooLargeRecords::TooLargeRecords(const path& repo_root)
    : repo_root_(repo_root), before_(read_too_large_records(repo_root)) {}

std::vector<Json> TooLargeRecords::hold_back(std::vector<Json> records) {
  std::vector<Json> kept;
  kept.reserve(records.size());
  for (Json& record : records) {
    const std::string commit = core::get_text(record, "commit");
    const std::string encoded = core::to_json_compact(record);
    if (encoded.size() > MAX_RECORD_BYTES) {
      logger.debug("Record %s is %s bytes, over the %s a record may have; it is set aside",
                   {commit, std::to_string(encoded.size()), std::to_string(MAX_RECORD_BYTES)});
      add({commit, core::sha256_hex(encoded), encoded.size()});
      continue;
    }
    const auto known =
        std::find_if(before_.begin(), before_.end(), [&](const TooLargeRecord& held) { return held.commit == commit; });
    if (known != before_.end()) {
      TooLargeRecord current{commit, core::sha256_hex(encoded), encoded.size()};
      if (current.sha256 == known->sha256) {
        add(std::move(current));
        continue;
      }
    }
    kept.push_back(std::move(record));
  }
  return kept;
}

void TooLargeRecords::set_aside(const Json& record) {
  const std::string commit = core::get_text(record, "commit");
  const std::string encoded = core::to_json_compact(record);
  logger.debug("The platform refused record %s (%s bytes) as too large; it is set aside",
               {commit, std::to_string(encoded.size())});
  add({commit, core::sha256_hex(encoded), encoded.size()});
}

// One entry per commit: the ledger may briefly hold a commit twice (a
// spooled line not yet merged), and the later one is what was tried last.
void TooLargeRecords::add(TooLargeRecord record) {
  const auto same_commit =
      std::find_if(now_.begin(), now_.end(), [&](const TooLargeRecord& held) { return held.commit == record.commit; });
  if (same_commit != now_.end()) {
    *same_commit = std::move(record);
  } else {
    now_.push_back(std::move(record));
  }
}

void TooLargeRecords::save() const {
  if (same_records(before_, now_)) return;
  const path file = paths::too_large_records(repo_root_);
  try {
    if (now_.empty()) {
      core::remove_file(file);
      return;
    }
    Json document = Json::object();
    for (const TooLargeRecord& record : now_) {
      document[record.commit] = {{"sha256", record.sha256}, {"bytes", record.bytes}};
    }
    core::make_dirs(file.parent_path());
    core::replace_file_atomically(file, core::to_json_compact(document) + "\n", core::Durability::no_flush,
                                  core::ReplacedMode::keep_target);
  } catch (const core::OSError& e) {
    logger.debug("Set-aside records not saved", {}, e);
  }
}

}  // namespace tamrik::synccore
