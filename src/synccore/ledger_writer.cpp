// The three locked writers of the ledger, and the spool that keeps an
// append from being lost when the lock cannot be had in time.

#include "synccore/ledger.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/log.hpp"
#include "synccore/commit_index.hpp"
#include "synccore/ledger_counts.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/synced_journal.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_set>

namespace tamrik::synccore {

namespace {

const core::Logger ledger_logger("ledger");

// A new line for the first line of a commit: the entry's `commit` value
// (any JSON value) and the text that replaces its line.
struct Replacement {
  Json commit;
  std::string line;
  bool done = false;
};

// Rewrites the ledger with each replacement's line in place of the first
// line recorded for its commit; returns the commits replaced. The caller
// holds the lock.
std::vector<Json> replace_lines_locked(const path& log_path, std::vector<Replacement>& replacements) {
  // Lines of our own writers name their commit up front: the line of a
  // commit not being replaced keeps its bytes without a search or a parse.
  std::unordered_set<std::string, detail::TextHash, std::equal_to<>> named;
  bool all_named = true;
  for (const Replacement& replacement : replacements) {
    if (replacement.commit.is_string()) named.insert(replacement.commit.get<std::string>());
    all_named = all_named && replacement.commit.is_string();
  }
  const auto may_hold = [](const Replacement& replacement, std::string_view candidate) {
    // Only a line that holds the commit's text can be its line.
    const std::string commit_text = replacement.commit.is_string() ? replacement.commit.get<std::string>() : "";
    return !replacement.done && (commit_text.empty() || candidate.find(commit_text) != std::string_view::npos);
  };
  const bool rewritten = detail::rewrite_lines(log_path, [&](std::string_view candidate) -> std::optional<std::string> {
    const std::string_view leading = detail::leading_commit(candidate);
    if (!leading.empty() && all_named && named.find(leading) == named.end()) return {};
    if (std::none_of(replacements.begin(), replacements.end(),
                     [&](const Replacement& replacement) { return may_hold(replacement, candidate); })) {
      return {};
    }
    const std::optional<Json> parsed = core::parse_json(candidate);
    if (!parsed || !parsed->is_object() || !parsed->contains("commit")) return {};
    for (Replacement& replacement : replacements) {
      if (replacement.done || (*parsed)["commit"] != replacement.commit) continue;
      replacement.done = true;
      return replacement.line;
    }
    return {};
  });
  std::vector<Json> replaced;
  for (const Replacement& replacement : replacements) {
    if (rewritten && replacement.done) replaced.push_back(replacement.commit);
  }
  return replaced;
}

bool replace_line_locked(const path& log_path, const Json& commit, std::string_view line) {
  std::vector<Replacement> replacements{{.commit = commit, .line = std::string(line)}};
  return !replace_lines_locked(log_path, replacements).empty();
}

// What the one-line-per-commit rule needs to know of a line.
struct LineOf {
  std::string commit;  // "" for a line that names no valid commit
  bool attested = false;
};

LineOf line_of(const Json& entry) {
  if (!entry.is_object()) return {};
  const std::string commit = core::get_text(entry, "commit");
  if (!_is_valid_commit_hash(commit)) return {};
  return {.commit = commit, .attested = _carries_attestation(entry)};
}

// The ledger keeps one line per commit. Under the lock, a line for a commit
// it already holds replaces that line when it carries an attestation (an
// attestation filed while another trigger recorded the bare commit), and is
// dropped when it does not: it adds nothing. Otherwise it is appended. The
// caller holds the lock; `line` ends with a newline.
void place_line_locked(const path& log_path, std::string_view line, const LineOf& of) {
  if (!of.commit.empty() && detail::ledger_holds_commit(log_path, of.commit)) {
    if (of.attested) replace_line_locked(log_path, of.commit, detail::trim(line));
    return;
  }
  // Flushed: the attestation archive written before it is, and the pending
  // file removed after it must not outlive the line in a power cut.
  core::append_line(log_path, line, core::Durability::flush);
}

// Writes `text` to a new, uniquely named spool file beside the ledger.
void spool(const path& log_path, std::string_view text) {
  const path spool_path = detail::new_spool_name(log_path);
  core::UniqueFd fd = core::open_file(spool_path, O_WRONLY | O_CREAT | O_EXCL, 0644);
  core::write_all(fd.get(), text, spool_path);
  if (const int err = fd.close(); err != 0) throw core::OSError("close " + spool_path.string(), err);
  ledger_logger.debug("Ledger lock busy; record spooled to %s", {spool_path.string()});
}

// Moves spooled lines into the ledger, one line per commit as every append
// (a merge cut short after its append, or two triggers that both spooled the
// same commit, leave nothing twice). The caller holds the lock.
void merge_spools(const path& log_path) {
  for (const path& spool_path : detail::spool_files(log_path)) {
    detail::visit_lines(spool_path, [&](std::optional<std::string_view> line) {
      if (!line) return;  // too long to be a record
      const std::optional<Json> entry = core::parse_json(*line);
      place_line_locked(log_path, std::string(*line) + "\n", entry ? line_of(*entry) : LineOf{});
    });
    core::remove_file(spool_path);
  }
}

// Runs `write` under the lock, after merging the spools, or spools `text`
// when the lock cannot be had in time.
template <typename Write>
void write_locked(const path& log_path, std::string_view text, Write&& write) {
  core::make_dirs(log_path.parent_path().empty() ? path(".") : log_path.parent_path());
  const core::LockGuard guard = detail::lock_ledger(log_path);
  if (!detail::may_write(guard)) {
    spool(log_path, text);
    return;
  }
  merge_spools(log_path);
  write();
}

}  // namespace

void _append_log_entry(const path& log_path, const Json& entry) {
  // Two triggers can both find a commit unrecorded before either writes
  // (the post-commit hook and a catch-up walk, say); only under the lock is
  // the answer final.
  const std::string line = core::to_json_line(entry) + "\n";
  write_locked(log_path, line, [&] { place_line_locked(log_path, line, line_of(entry)); });
}

void _append_log_text(const path& log_path, std::string_view text) {
  if (text.empty()) return;
  std::string whole(text);
  if (whole.back() != '\n') whole.push_back('\n');
  write_locked(log_path, whole, [&] { core::append_line(log_path, whole, core::Durability::flush); });
}

bool _replace_log_entry(const path& log_path, const Json& entry) {
  return !_replace_log_entries(log_path, {entry}).empty();
}

std::vector<std::string> _replace_log_entries(const path& log_path, const std::vector<Json>& entries) {
  if (entries.empty() || !core::path_exists(log_path)) return {};
  const core::LockGuard guard = detail::lock_ledger(log_path);
  if (!detail::may_write(guard)) {
    ledger_logger.debug("Ledger lock busy; not rewriting the line in place");
    return {};
  }
  merge_spools(log_path);
  core::remove_abandoned_temp_files(log_path);
  std::vector<Replacement> replacements;
  for (const Json& entry : entries) {
    replacements.push_back(
        {.commit = entry.contains("commit") ? entry["commit"] : Json(), .line = core::to_json_line(entry)});
  }
  std::vector<std::string> replaced;
  for (const Json& commit : replace_lines_locked(log_path, replacements)) {
    replaced.push_back(commit.is_string() ? commit.get<std::string>() : "");
  }
  return replaced;
}

void _mark_synced(const path& log_path, const std::vector<SentLine>& sent) {
  if (sent.empty()) return;
  // Under the lock, so a fold never removes the journal between another
  // run's append and its own read of it.
  const core::LockGuard guard = detail::lock_ledger(log_path);
  if (!detail::may_write(guard)) {
    ledger_logger.debug("Ledger lock busy; batch stays unmarked and is sent again next sync");
    return;
  }
  detail::append_synced(log_path, sent);
}

void _fold_synced(const path& log_path) {
  const path journal_path = detail::synced_journal_path(log_path);
  if (!core::path_exists(journal_path)) return;
  const core::LockGuard guard = detail::lock_ledger(log_path);
  if (!detail::may_write(guard)) {
    ledger_logger.debug("Ledger lock busy; accepted uploads stay journalled until the next fold");
    return;
  }
  merge_spools(log_path);
  // A rewrite killed before its rename leaves a ledger-sized file behind.
  core::remove_abandoned_temp_files(log_path);
  const detail::SyncedJournal journal = detail::SyncedJournal::read(log_path);
  if (!journal.readable()) return;
  bool marked = false;
  detail::CountsCarry counts(log_path);
  const auto placed = [&](size_t old_offset, size_t new_offset) { counts.placed(old_offset, new_offset); };
  const bool rewritten = !journal.empty() && core::path_exists(log_path) &&
                         detail::rewrite_lines(
                             log_path,
                             [&](std::string_view line) -> std::optional<std::string> {
                               // Lines of our own writers name their commit up front: a line of a
                               // commit nobody journalled keeps its bytes without being parsed.
                               const std::string_view leading = detail::leading_commit(line);
                               if (!leading.empty() && !journal.names(leading)) return {};
                               const std::optional<Json> entry = core::parse_json(line);
                               if (!entry || !entry->is_object() || !journal.covers(*entry)) return {};
                               // Numbers as written: marking a line changes none of its numbers.
                               Json marked_entry = core::parse_json(line, core::Numbers::as_written).value_or(*entry);
                               counts.marked(*entry);
                               marked_entry.erase("uploaded");
                               marked_entry["synced"] = true;
                               marked = true;
                               return core::to_json_line(marked_entry);
                             },
                             placed);
  // Kept only when lines it covers could not be marked: a rewrite that gave
  // way to a writer without the lock. Entries that cover nothing any more
  // (their line was rewritten since) go with it.
  if (rewritten || !marked) core::remove_file(journal_path);
  if (rewritten) counts.write(log_path);
}

}  // namespace tamrik::synccore
