// The three locked writers of the ledger, and the spool that keeps an
// append from being lost when the lock cannot be had in time.

#include "synccore/ledger.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/log.hpp"
#include "synccore/ledger_text.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <unordered_set>

namespace tamrik::synccore {

namespace {

const core::Logger logger("ledger");

std::string join_lines(const std::vector<std::string_view>& lines) {
  size_t size = 0;
  for (std::string_view line : lines) size += line.size() + 1;
  std::string out;
  out.reserve(size);
  for (std::string_view line : lines) {
    out.append(line);
    out.push_back('\n');
  }
  return out;
}

// Writes `text` to a new, uniquely named spool file beside the ledger.
void spool(const path& log_path, std::string_view text) {
  const path spool_path = detail::new_spool_name(log_path);
  core::UniqueFd fd = core::open_file(spool_path, O_WRONLY | O_CREAT | O_EXCL, 0644);
  core::write_all(fd.get(), text, spool_path);
  if (const int err = fd.close(); err != 0) throw core::OSError("close " + spool_path.string(), err);
  logger.debug("Ledger lock busy; record spooled to %s", {spool_path.string()});
}

// Moves spooled lines into the ledger, skipping any whose commit the ledger
// already holds (a merge cut short after its append, or two triggers that
// both spooled the same commit). The caller holds the lock.
void merge_spools(const path& log_path) {
  const std::vector<path> spools = detail::spool_files(log_path);
  if (spools.empty()) return;
  std::string ledger = core::try_read_file(log_path).value_or("");
  for (const path& spool_path : spools) {
    const std::optional<std::string> text = core::try_read_file(spool_path);
    if (!text) continue;
    std::string fresh;
    for (std::string_view line : detail::split_lines(*text)) {
      line = detail::trim(line);
      if (line.empty()) continue;
      const std::optional<Json> entry = core::parse_json(line);
      const std::string commit = entry && entry->is_object() ? core::get_text(*entry, "commit") : "";
      if (_is_valid_commit_hash(commit) && detail::text_holds_commit(ledger, commit)) continue;
      fresh.append(line);
      fresh.push_back('\n');
    }
    if (!fresh.empty()) core::append_line(log_path, fresh, core::Durability::flush);
    ledger.append(fresh);
    ::unlink(spool_path.c_str());
  }
}

// Appends whole lines under the lock, or spools them when it cannot be had.
// With `unless_held` set, nothing is appended when the ledger already holds
// a line for that commit.
void append_locked(const path& log_path, std::string_view text, std::string_view unless_held = {}) {
  core::make_dirs(log_path.parent_path().empty() ? path(".") : log_path.parent_path());
  const core::LockGuard guard = core::locked(log_path, detail::ledger_lock_timeout);
  if (!guard.acquired()) {
    spool(log_path, text);
    return;
  }
  merge_spools(log_path);
  if (!unless_held.empty() && detail::file_holds_commit(log_path, unless_held)) return;
  // Flushed: the attestation archive written before it is, and the pending
  // file removed after it must not outlive the line in a power cut.
  core::append_line(log_path, text, core::Durability::flush);
}

// Lets the set of batch commits be searched with a string_view.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

}  // namespace

void _append_log_entry(const path& log_path, const Json& entry) {
  // Two triggers can both find a commit unrecorded before either writes
  // (the post-commit hook and a catch-up walk, say); only under the lock is
  // the answer final. A second record of a commit without an attestation
  // adds nothing to the line already there.
  const std::string commit = entry.is_object() && entry.contains("event") ? core::get_text(entry, "commit") : "";
  append_locked(log_path, core::to_json_line(entry) + "\n", _is_valid_commit_hash(commit) ? commit : "");
}

void _append_log_text(const path& log_path, std::string_view text) {
  if (text.empty()) return;
  std::string whole(text);
  if (whole.back() != '\n') whole.push_back('\n');
  append_locked(log_path, whole);
}

bool _replace_log_entry(const path& log_path, const Json& entry) {
  if (!core::path_exists(log_path)) return false;
  const core::LockGuard guard = core::locked(log_path, detail::ledger_lock_timeout);
  if (!guard.acquired()) {
    logger.debug("Ledger lock busy; not rewriting the line in place");
    return false;
  }
  merge_spools(log_path);
  core::remove_abandoned_temp_files(log_path);
  const std::string text = core::read_file(log_path);
  const Json target = entry.contains("commit") ? entry["commit"] : Json();
  const std::string target_text = target.is_string() ? target.get<std::string>() : "";

  std::vector<std::string_view> lines = detail::split_lines(text);
  std::string replacement;
  bool replaced = false;
  for (std::string_view& line : lines) {
    // Only a line that holds the commit's text can be its line.
    if (!target_text.empty() && line.find(target_text) == std::string_view::npos) continue;
    const std::optional<Json> parsed = core::parse_json(line);
    if (!parsed || !parsed->is_object() || !parsed->contains("commit") || (*parsed)["commit"] != target) continue;
    replacement = core::to_json_line(entry);
    line = replacement;
    replaced = true;
    break;
  }
  if (!replaced) return false;
  core::replace_file_atomically(log_path, join_lines(lines));
  return true;
}

void _mark_synced(const path& log_path, const Json& batch) {
  std::unordered_set<std::string, TextHash, std::equal_to<>> commits;
  for (const Json& item : batch) {
    if (item.is_object() && core::is_set(item, "commit") && item["commit"].is_string()) {
      commits.insert(item["commit"].get<std::string>());
    }
  }
  if (commits.empty()) return;

  const core::LockGuard guard = core::locked(log_path, detail::ledger_lock_timeout);
  if (!guard.acquired()) {
    logger.debug("Ledger lock busy; batch stays unmarked and is sent again next sync");
    return;
  }
  merge_spools(log_path);
  // A rewrite killed before its rename leaves a ledger-sized file behind.
  core::remove_abandoned_temp_files(log_path);
  const std::string text = core::read_file(log_path);

  std::vector<std::string_view> lines = detail::split_lines(detail::trim(text));
  std::deque<std::string> rewritten;  // owns the text of re-encoded lines
  for (std::string_view& line : lines) {
    // Lines of our own writers name their commit up front: a line of a
    // commit outside the batch keeps its bytes without being parsed.
    const std::string_view leading = detail::leading_commit(line);
    if (!leading.empty() && commits.find(leading) == commits.end()) continue;
    std::optional<Json> parsed = core::parse_json(line);
    if (!parsed || !parsed->is_object()) continue;
    if (commits.count(core::get_text(*parsed, "commit")) != 0) {
      parsed->erase("uploaded");
      (*parsed)["synced"] = true;
    }
    line = rewritten.emplace_back(core::to_json_line(*parsed));
  }
  core::replace_file_atomically(log_path, join_lines(lines));
}

}  // namespace tamrik::synccore
