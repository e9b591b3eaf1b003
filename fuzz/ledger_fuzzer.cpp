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
#include <set>
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

// The lines the reader counts as corrupt, trimmed and sorted: a writer must
// keep every one of them byte for byte.
std::vector<std::string> undecodable_lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::string_view line : detail::split_lines(text)) {
    line = detail::trim(line);
    if (line.empty()) continue;
    const std::optional<Json> entry = tamrik::core::parse_json(line);
    if (!entry || !entry->is_object()) lines.emplace_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

int records(const synccore::AttestationLog& log) { return log.attested + log.unattested + log.skipped; }

// The commits of the records whose own line holds the commit verbatim. A
// line that escapes its commit's characters is not promised to be found:
// our writers never escape a hash, and the same bytes on another line do
// not count.
std::set<std::string> verbatim_record_commits(const std::string& text) {
  std::set<std::string> commits;
  for (std::string_view line : detail::split_lines(text)) {
    line = detail::trim(line);
    const std::optional<Json> entry = tamrik::core::parse_json(line);
    if (!entry || !entry->is_object()) continue;
    const auto commit = entry->find("commit");
    if (commit == entry->end() || !commit->is_string()) continue;
    const std::string& hash = commit->get_ref<const std::string&>();
    if (synccore::_is_valid_commit_hash(hash) && line.find(hash) != std::string_view::npos) commits.insert(hash);
  }
  return commits;
}

void check_lookup_agrees(const std::filesystem::path& log_path, const std::string& text) {
  for (const std::string& commit : verbatim_record_commits(text)) {
    require(synccore::_commit_already_logged(log_path, commit), "a logged commit is not found");
  }
}

// Marks the first pending commits synced and checks that exactly their
// lines moved from pending to uploaded, everything else kept.
void check_mark_synced(const std::filesystem::path& log_path, const synccore::AttestationLog& before) {
  std::vector<std::string> marked;
  for (size_t i = 0; i < before.pending.size() && i < 3; ++i) {
    marked.push_back(before.pending[i]["commit"].get<std::string>());
  }
  const auto in_batch = [&](const Json& entry) {
    return std::find(marked.begin(), marked.end(), entry["commit"].get<std::string>()) != marked.end();
  };
  std::vector<Json> still_pending;
  std::copy_if(before.pending.begin(), before.pending.end(), std::back_inserter(still_pending),
               [&](const Json& entry) { return !in_batch(entry); });
  const auto newly_marked = static_cast<int>(before.pending.size() - still_pending.size());

  // As the upload does: every pending line of a sent commit, as it was read.
  std::vector<synccore::SentLine> sent;
  for (const Json& entry : before.pending) {
    if (in_batch(entry)) sent.push_back({entry["commit"].get<std::string>(), synccore::_line_identity(entry)});
  }
  const std::string old_text = read_all(log_path);
  synccore::_mark_synced(log_path, sent);
  synccore::_fold_synced(log_path);
  const std::string new_text = read_all(log_path);
  const synccore::AttestationLog after = synccore::read_attestation_log(log_path);

  require(undecodable_lines(new_text) == undecodable_lines(old_text), "mark synced changed an undecodable line");
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
  // As with the lookup, only a record line holding the commit verbatim is found.
  const std::string commit = entry["commit"].get<std::string>();
  require(replaced || verbatim_record_commits(old_text).count(commit) == 0,
          "the line of a pending commit was not replaced");
  const std::string new_text = read_all(log_path);
  const synccore::AttestationLog after = synccore::read_attestation_log(log_path);

  require(undecodable_lines(new_text) == undecodable_lines(old_text), "replace changed an undecodable line");
  require(after.corrupt == before.corrupt, "replace changed the corrupt count");
  require(records(after) == records(before), "replace changed the number of records");
  // The first line of the commit is replaced, whether it was pending or not.
  if (replaced) {
    require(std::find(after.pending.begin(), after.pending.end(), entry) != after.pending.end(),
            "the replacement is not pending");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path log_path = tamrik::fuzz::scratch_dir() / "repo" / ".tamrik" / "log.jsonl";
  const std::string text(tamrik::fuzz::as_text(data, size));
  tamrik::fuzz::write_bytes(log_path, text);

  const synccore::AttestationLog before = synccore::read_attestation_log(log_path);
  check_lookup_agrees(log_path, text);
  check_mark_synced(log_path, before);
  check_replace(log_path);
  return 0;
}
