#include "synccore/upload.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/log.hpp"
#include "host/services/setup_list.hpp"
#include "host/agents/registry.hpp"
#include "host/paths.hpp"
#include "host/protocol/http_client.hpp"
#include "host/services/local_config.hpp"
#include "synccore/attestation_archive.hpp"
#include "synccore/diagnostics.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/too_large.hpp"

#include <malloc.h>

#include <cstdlib>
#include <deque>
#include <unordered_map>
#include <iterator>
#include <utility>
#include <system_error>

namespace tamrik::synccore {

namespace {

namespace client = protocol::http_client;

// The client's upload of one batch; this module's own operation has its name.
constexpr auto _send_batch = &client::upload_attestations;

bool is_plain_file(const path& file) {
  std::error_code ec;
  return std::filesystem::is_regular_file(file, ec);
}

// The values of the non-blank lines of a sealed change ledger, or nullopt
// when there is none or any line is not JSON: a partial segment would
// misstate the change.
std::optional<Json> archived_ledger_segment(const path& file) {
  const std::optional<std::string> text = core::try_read_file(file, core::kDocumentFileCap);
  if (!text) return std::nullopt;
  Json values = Json::array();
  for (std::string_view line : detail::split_lines(*text)) {
    if (detail::trim(line).empty()) continue;
    std::optional<Json> value = core::parse_json(line);
    if (!value) return std::nullopt;
    values.push_back(std::move(*value));
  }
  return values;
}

// The pending entries ready to send, with their archives attached. Entries
// whose attestation archive is corrupt are left out and counted: they stay
// pending, and sending them without it would store a record that claims no
// attestation.
std::vector<Json> records_to_send(std::vector<Json> pending, const path& attestations_dir, int& skipped_invalid) {
  std::vector<Json> records;
  records.reserve(pending.size());
  for (Json& entry : pending) {
    const std::string commit = core::get_text(entry, "commit");
    if (!entry.contains("attestation") && !entry.contains("raw_attestation")) {
      const path file = attestations_dir / (commit + ".yaml");
      try {
        if (std::optional<Json> attestation = archived_attestation(file)) {
          // A commit that carries several attestations keeps them all in
          // its archive; the record sends them beside the first.
          if (attestation->is_object() && attestation->contains("attestations")) {
            entry["attestations"] = std::move((*attestation)["attestations"]);
            attestation->erase("attestations");
          }
          entry["attestation"] = std::move(*attestation);
        }
      } catch (const core::Error& e) {  // OSError or YAMLError
        logger.warning("Corrupt attestation file %s: %s", {file.string(), e.what()});
        ++skipped_invalid;
        continue;
      }
    }
    if (!entry.contains("ledger")) {
      if (std::optional<Json> segment = archived_ledger_segment(attestations_dir / (commit + ".ledger.jsonl"))) {
        entry["ledger"] = std::move(*segment);
      }
    }
    records.push_back(std::move(entry));
  }
  return records;
}

// The X-Agent-Session-Id header: the active agent's session, else
// AGENT_SESSION_ID; no headers when neither is known.
std::optional<client::ExtraHeaders> session_headers(const path& repo_root) {
  std::string session_id;
  try {
    if (const agents::Adapter* adapter = agents::detect_active_agent()) {
      session_id = adapter->get_session_id(repo_root).value_or("");
    }
  } catch (const std::exception& e) {
    logger.debug("Agent detection for session header failed", {}, e);
  }
  if (session_id.empty()) {
    const char* from_env = std::getenv("AGENT_SESSION_ID");
    if (from_env != nullptr) session_id = from_env;
  }
  if (session_id.empty()) return std::nullopt;
  return client::ExtraHeaders{{"X-Agent-Session-Id", session_id}};
}

// What the server reports as stored, or the batch length when it does not say.
int inserted_count(const Json& answer, const Json& batch) {
  const auto inserted = answer.find("inserted");
  if (inserted != answer.end() && inserted->is_number_integer()) return inserted->get<int>();
  return static_cast<int>(batch.size());
}

// Where the batches go, and the ledger that marks them sent.
struct Destination {
  std::string_view api_key;
  std::string_view api_url;
  const Json& project_id;
  std::optional<client::ExtraHeaders> headers;
  path log_path;
};

// Most lines journalled before the journal is folded into the ledger: the
// readers hold the journal in memory, and a fold costs one ledger rewrite.
constexpr size_t kFoldEvery = 100'000;

// Pending records read, archived and sent at a time: a multiple of the batch
// size, so only batches cut by their bytes come out short.
constexpr size_t kWindow = 5 * ATTESTATION_BATCH_SIZE;

// Journals the lines of an accepted batch synced, and folds the journal
// into the ledger once it has grown to kFoldEvery lines.
class Marker {
 public:
  explicit Marker(path log_path) : log_path_(std::move(log_path)) {}

  // The identities of the pending lines as read, by commit (a foreign
  // ledger may hold a commit twice), taken before the records get their
  // archives; those of the window sent before are no longer needed.
  void expect(const std::vector<Json>& pending) {
    identities_.clear();
    for (const Json& entry : pending) identities_[core::get_text(entry, "commit")].push_back(_line_identity(entry));
  }

  void accepted(const Json& batch) {
    std::vector<SentLine> sent;
    for (const Json& record : batch) {
      const auto found = identities_.find(core::get_text(record, "commit"));
      if (found == identities_.end()) continue;
      for (const std::string& identity : found->second) sent.push_back({found->first, identity});
    }
    _mark_synced(log_path_, sent);
    journalled_ += sent.size();
    if (journalled_ >= kFoldEvery) fold();
  }

  void fold() {
    _fold_synced(log_path_);
    journalled_ = 0;
    // The fold's journal and commit index are the run's largest allocations;
    // given back now, they do not stack up under the next window's.
    ::malloc_trim(0);
  }

 private:
  path log_path_;
  std::unordered_map<std::string, std::vector<std::string>> identities_;
  size_t journalled_ = 0;
};

std::pair<Json, Json> halves(Json batch) {
  Json first = Json::array();
  Json second = Json::array();
  const size_t middle = batch.size() / 2;
  for (size_t i = 0; i < batch.size(); ++i) (i < middle ? first : second).push_back(std::move(batch[i]));
  return {std::move(first), std::move(second)};
}

// Sends `records` in batches, in order, each marked synced as soon as the
// server has taken it. A batch refused for its size is split in halves (a
// proxy may allow less than the platform does) until a record goes alone; a
// record refused alone is set aside and the run goes on. Any other failure
// stops the run: this batch and the later ones stay pending.
void send_batches(const Destination& to, std::vector<Json> records, Marker& marker, TooLargeRecords& too_large,
                  UploadResult& result) {
  std::vector<Json> chunked = _chunk_attestations(std::move(records));
  std::deque<Json> batches(std::make_move_iterator(chunked.begin()), std::make_move_iterator(chunked.end()));
  while (!batches.empty()) {
    Json batch = std::move(batches.front());
    batches.pop_front();
    try {
      result.uploaded += inserted_count(_send_batch(to.api_key, to.api_url, to.project_id, batch, to.headers), batch);
    } catch (const client::PlatformError& e) {
      if (!client::refused_as_too_large(e)) {
        result.ok = false;
        result.error = e.what();
        return;
      }
      if (batch.size() == 1) {
        too_large.set_aside(batch[0]);
      } else {
        auto [first, second] = halves(std::move(batch));
        batches.push_front(std::move(second));
        batches.push_front(std::move(first));
      }
      continue;
    }
    // Durable before the next request: a run cut short must not send this
    // batch again.
    marker.accepted(batch);
  }
}

}  // namespace

UploadResult upload_attestations(std::string_view api_key, std::string_view api_url, const path& repo_root,
                                 const path& attestations_dir, const Json& project_id) {
  if (!services::setup_list::is_set_up(repo_root) && !is_plain_file(paths::legacy_dir(repo_root))) {
    return {.already_synced = true};
  }
  if (services::read_local_config(repo_root).empty) return {.already_synced = true};
  if (!core::is_set(project_id)) return {.ok = false, .error = "no project id to address the upload to"};
  const path log_path = paths::log_jsonl(repo_root);
  // Spools count: the first records may wait there before a ledger exists.
  if (!core::path_exists(log_path) && detail::spool_files(log_path).empty()) return {.already_synced = true};
  if (api_key.empty()) return {.ok = false, .error = "No API key configured"};

  // What a run killed after its last accepted batch left journalled.
  _fold_synced(log_path);
  UploadResult result;
  Marker marker(log_path);
  TooLargeRecords too_large(repo_root);
  const Destination destination{api_key, api_url, project_id, session_headers(repo_root), log_path};
  bool sent_any = false;
  // A window at a time, so a backlog of any size is never held whole.
  const AttestationLog log = read_pending_in_windows(log_path, kWindow, [&](std::vector<Json>&& pending) {
    marker.expect(pending);
    std::vector<Json> records =
        too_large.hold_back(records_to_send(std::move(pending), attestations_dir, result.skipped_invalid));
    sent_any = sent_any || !records.empty();
    if (!records.empty()) send_batches(destination, std::move(records), marker, too_large, result);
    return result.ok;
  });
  result.skipped_invalid += log.unaddressable;
  if (sent_any) {
    marker.fold();
  } else if (result.ok) {
    result.already_synced = true;
  }
  result.set_aside = static_cast<int>(too_large.size());
  too_large.save();
  return result;
}

std::vector<Json> _chunk_attestations(std::vector<Json> entries, size_t max_count, size_t max_bytes) {
  std::vector<Json> batches;
  Json current = Json::array();
  size_t current_bytes = 0;
  for (Json& entry : entries) {
    const size_t size = core::to_json_compact(entry).size();
    if (!current.empty() && (current.size() >= max_count || current_bytes + size > max_bytes)) {
      batches.push_back(std::move(current));
      current = Json::array();
      current_bytes = 0;
    }
    if (size > max_bytes) {
      logger.debug("Record %s is larger than one upload batch may be; it is sent alone",
                   {core::get_text(entry, "commit")});
    }
    current.push_back(std::move(entry));
    current_bytes += size;
  }
  if (!current.empty()) batches.push_back(std::move(current));
  return batches;
}

}  // namespace tamrik::synccore
