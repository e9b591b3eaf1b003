// The ledger over arbitrary bytes: the reader classifies every line, the
// lookup agrees with it, and the two rewriting writers keep every line they
// cannot decode and change only the lines they are asked to.

#include "core/json.hpp"
#include "scratch.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using tamrik::core::Json;
using tamrik::fuzz::require;
namespace synccore = tamrik::synccore;
namespace detail = tamrik::synccore::detail;

std::string read_all(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines a writer must keep byte for byte, trimmed and sorted: those that
// are not a record, or a record of a commit outside `touched`.
std::vector<std::string> kept_lines(const std::string& text, const std::vector<std::string>& touched) {
  std::vector<std::string> lines;
  for (std::string_view line : detail::split_lines(text)) {
    line = detail::trim(line);
    if (line.empty()) continue;
    const std::optional<Json> entry = tamrik::core::parse_json(line);
    const std::string commit = entry && entry->is_object() ? tamrik::core::get_text(*entry, "commit") : "";
    if (commit.empty() || std::find(touched.begin(), touched.end(), commit) == touched.end()) {
      lines.emplace_back(line);
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

int records(const synccore::AttestationLog& log) { return log.attested + log.unattested + log.skipped; }

void check_lookup_agrees(const std::filesystem::path& log_path, const std::string& text,
                         const synccore::AttestationLog& log) {
  for (const Json& entry : log.pending) {
    const std::string& commit = entry["commit"].get_ref<const std::string&>();
    // A line that escapes its commit's characters is not found by bytes;
    // the lookup promises only lines that hold the commit verbatim.
    if (text.find(commit) == std::string::npos) continue;
    require(synccore::_commit_already_logged(log_path, commit), "a pending commit is not found as logged");
  }
}

// Marks the first pending commits synced and checks that exactly their
// lines moved from pending to uploaded, everything else kept.
void check_mark_synced(const std::filesystem::path& log_path, const synccore::AttestationLog& before) {
  Json batch = Json::array();
  std::vector<std::string> marked;
  for (size_t i = 0; i < before.pending.size() && i < 3; ++i) {
    batch.push_back(before.pending[i]);
    marked.push_back(before.pending[i]["commit"].get<std::string>());
  }
  const auto in_batch = [&](const Json& entry) {
    return std::find(marked.begin(), marked.end(), entry["commit"].get<std::string>()) != marked.end();
  };
  std::vector<Json> still_pending;
  std::copy_if(before.pending.begin(), before.pending.end(), std::back_inserter(still_pending),
               [&](const Json& entry) { return !in_batch(entry); });
  const auto newly_marked = static_cast<int>(before.pending.size() - still_pending.size());

  const std::string old_text = read_all(log_path);
  synccore::_mark_synced(log_path, batch);
  const std::string new_text = read_all(log_path);
  const synccore::AttestationLog after = synccore::read_attestation_log(log_path);

  require(kept_lines(new_text, marked) == kept_lines(old_text, marked), "mark synced changed a line outside the batch");
  require(after.corrupt == before.corrupt, "mark synced changed the corrupt count");
  require(records(after) == records(before), "mark synced changed the number of records");
  require(after.unaddressable == before.unaddressable, "mark synced changed the unaddressable count");
  require(after.uploaded == before.uploaded + newly_marked, "mark synced marked the wrong number of lines");
  require(after.pending == still_pending, "mark synced changed a line outside the batch");
}

// Rewrites the line of one pending commit and checks nothing else moved.
void check_replace(const std::filesystem::path& log_path) {
  const synccore::AttestationLog before = synccore::read_attestation_log(log_path);
  if (before.pending.empty()) return;
  Json entry = before.pending.front();
  entry["summary"] = "rewritten by the fuzzer";

  const std::string old_text = read_all(log_path);
  const bool replaced = synccore::_replace_log_entry(log_path, entry);
  // As with the lookup, only a line holding the commit verbatim is found.
  const std::string commit = entry["commit"].get<std::string>();
  require(replaced || old_text.find(commit) == std::string::npos, "the line of a pending commit was not replaced");
  const std::string new_text = read_all(log_path);
  const synccore::AttestationLog after = synccore::read_attestation_log(log_path);

  require(kept_lines(new_text, {commit}) == kept_lines(old_text, {commit}), "replace changed another line");
  require(after.corrupt == before.corrupt, "replace changed the corrupt count");
  require(records(after) == records(before), "replace changed the number of records");
  require(after.pending.size() == before.pending.size(), "replace changed the number of pending records");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path log_path = tamrik::fuzz::scratch_dir() / "repo" / ".tamrik" / "log.jsonl";
  const std::string text(tamrik::fuzz::as_text(data, size));
  tamrik::fuzz::write_bytes(log_path, text);

  const synccore::AttestationLog before = synccore::read_attestation_log(log_path);
  check_lookup_agrees(log_path, text, before);
  check_mark_synced(log_path, before);
  check_replace(log_path);
  return 0;
}
