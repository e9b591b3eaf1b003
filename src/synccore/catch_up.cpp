#include "synccore/catch_up.hpp"

#include "core/best_effort.hpp"
#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/time_text.hpp"
#include "host/agents/registry.hpp"
#include "host/services/git_identity.hpp"
#include "host/services/setup_list.hpp"
#include "host/paths.hpp"
#include "host/services/local_config.hpp"
#include "host/services/shared.hpp"
#include "synccore/capture.hpp"
#include "synccore/git.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"
#include "core/text.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>

namespace tamrik::synccore {

namespace {

// A walk records many commits under one hold of the lock, so it waits
// longer for it than a single append (within a hook's budget all the same).
constexpr std::chrono::seconds kWalkLockTimeout{30};

std::optional<double> parse_number(std::string_view text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

struct Backlog {
  std::vector<std::string> pending;  // newest first
  std::map<std::string, double> commit_times;
  std::string oldest_time_text;
};

// One line of the walk's `git log`: hash, committer time, committer email.
struct LoggedCommit {
  std::string hash;
  std::string time_text;
  std::string committer;
};

LoggedCommit parse_logged(const std::string& line) {
  const size_t first = line.find(' ');
  const size_t second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
  LoggedCommit commit{.hash = line.substr(0, first)};
  if (first != std::string::npos) commit.time_text = line.substr(first + 1, second - first - 1);
  if (second != std::string::npos) commit.committer = line.substr(second + 1);
  return commit;
}

bool same_email(std::string_view a, std::string_view b) { return core::equals_ignoring_case(a, b); }

// The email of the identity configured for this repository, or nullopt.
std::optional<std::string> configured_email(const path& repo_root) {
  const std::optional<core::Json> developer = services::shared::detect_git_author(repo_root);
  const std::string email = developer ? core::get_text(*developer, "git_author_email") : "";
  if (email.empty()) return std::nullopt;
  return email;
}

// The unrecorded commits from `tips` (HEAD when empty) down to the newest
// recorded one that this developer made, skipping those made before
// `anchor` (seconds since the epoch).
//
// A commit whose committer is not this repository's configured identity is
// a teammate's (pulled, fetched, merged in): theirs to record, from their
// own clone, with what their agent attested. Recording it here would file it
// as an unattested commit of ours, and its upload would compete with theirs.
// It is skipped, not a stop: the walk still ends at the newest recorded
// commit, or at `limit`. The comparison ignores case. With no identity
// configured nothing is compared and every commit counts as ours. A commit
// rebased, amended or cherry-picked here has this developer as committer, so
// it counts as ours whoever wrote it first.
Backlog find_backlog(const Checkout& checkout, const std::vector<std::string>& tips, int limit,
                     std::optional<double> anchor) {
  std::vector<LoggedCommit> unrecorded;
  std::vector<std::string> args = {"log", "--format=%H %ct %ce", "-n" + std::to_string(limit)};
  args.insert(args.end(), tips.begin(), tips.end());
  for (const std::string& line : _git_lines(args, checkout.work_tree)) {
    LoggedCommit commit = parse_logged(line);
    if (commit.hash.empty()) continue;
    if (_already_recorded(checkout.home, commit.hash)) break;
    unrecorded.push_back(std::move(commit));
  }
  Backlog backlog;
  if (unrecorded.empty()) return backlog;  // the usual case asks git nothing more

  const std::optional<std::string> mine = configured_email(checkout.work_tree);
  for (const LoggedCommit& commit : unrecorded) {
    if (mine && !same_email(commit.committer, *mine)) continue;
    const std::optional<double> time = parse_number(commit.time_text);
    if (anchor && time && *time < *anchor) continue;
    backlog.pending.push_back(commit.hash);
    if (time) backlog.commit_times[commit.hash] = *time;
    backlog.oldest_time_text = commit.time_text;
  }
  return backlog;
}

// hash -> every (adapter, session) that claims it, from one scan per adapter.
std::map<std::string, std::vector<std::pair<std::string, std::string>>> session_hits(const path& work_tree,
                                                                                     const Backlog& backlog,
                                                                                     std::optional<double> since) {
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> hits;
  for (const agents::Adapter* adapter : agents::iter_adapters()) {
    core::best_effort(std::string(adapter->name()) + " session scan failed", [&] {
      const std::optional<agents::SessionHits> found =
          adapter->sessions_mentioning(work_tree, backlog.pending, since, backlog.commit_times);
      if (!found) return;
      for (const auto& [hash, sessions] : *found) {
        for (const std::string& session : sessions) hits[hash].emplace_back(adapter->name(), session);
      }
    });
  }
  return hits;
}

// Whether commits made before setup are skipped on every walk, or only
// while nothing is recorded yet.
enum class SetupFloor { first_run, always };

// Records the backlog from `tips` (HEAD when empty), each commit attributed
// only on a single claimant's word. The caller holds the ledger lock where it
// can have it.
std::vector<BackfillResult> walk_and_record_from(const Checkout& checkout, const std::vector<std::string>& tips,
                                                 int limit, SetupFloor floor) {
  std::vector<BackfillResult> results;
  core::best_effort("catch-up walk failed", [&] {
    if (!services::setup_list::is_set_up(checkout.home)) return;
    const bool floored = floor == SetupFloor::always || _nothing_recorded_yet(checkout.home);
    const std::optional<double> anchor = floored ? _config_anchor(checkout.home) : std::nullopt;
    const Backlog backlog = find_backlog(checkout, tips, limit, anchor);
    if (backlog.pending.empty()) return;

    // The log above already printed the oldest commit's time; ask git only
    // when that text was not a number.
    std::optional<double> since = parse_number(backlog.oldest_time_text);
    if (!since) since = parse_number(_git({"log", "-1", "--format=%ct", backlog.pending.back()}, checkout.work_tree));

    const auto hits = session_hits(checkout.work_tree, backlog, since);
    for (const std::string& hash : backlog.pending) {
      CaptureOptions options{.source = "catch_up", .consume_pending = false, .attribute_ambient = false};
      const auto match = hits.find(hash);
      // Only a single claimant is proof; two or more (even one session seen
      // by two adapters) leave the commit unattributed.
      if (match != hits.end() && match->second.size() == 1) {
        options.agent = match->second.front().first;
        options.session_id = match->second.front().second;
      }
      results.push_back(capture_commit(checkout, hash, options));
    }
  });
  return results;
}

}  // namespace

std::vector<BackfillResult> catch_up_commits(const Checkout& checkout, int limit) {
  std::vector<BackfillResult> results;
  core::best_effort("catch_up_commits failed", [&] {
    if (!services::setup_list::is_set_up(checkout.home)) return;
    const core::LockGuard guard = detail::lock_ledger(paths::log_jsonl(checkout.home), kWalkLockTimeout);
    if (!detail::may_write(guard)) return;
    results = _walk_and_record(checkout, limit);
  });
  return results;
}

std::vector<BackfillResult> _walk_and_record(const Checkout& checkout, int limit) {
  return walk_and_record_from(checkout, {}, limit, SetupFloor::first_run);
}

std::vector<BackfillResult> catch_up_below(const Checkout& checkout, const std::vector<std::string>& parents) {
  std::vector<BackfillResult> results;
  core::best_effort("catch-up below a new commit failed", [&] {
    std::vector<std::string> tips;
    for (const std::string& parent : parents) {
      if (!_already_recorded(checkout.home, parent)) tips.push_back(parent);
    }
    if (tips.empty() || !services::setup_list::is_set_up(checkout.home)) return;
    // The lock only saves each append its own wait. Without it the walk
    // goes on and its appends spool: a commit left out now would never be
    // found again, since every later walk stops at the record above it.
    const core::LockGuard guard = detail::lock_ledger(paths::log_jsonl(checkout.home), kWalkLockTimeout);
    // Always floored at setup: the parent of the first commit recorded here
    // is history from before tamrik, not a backlog.
    results = walk_and_record_from(checkout, tips, kCatchUpLimit, SetupFloor::always);
  });
  return results;
}

bool _nothing_recorded_yet(const path& repo_root) {
  const std::optional<struct stat> ledger = core::file_status(paths::log_jsonl(repo_root));
  if (ledger && ledger->st_size > 0) return false;
  for (const core::DirEntry& entry : core::list_dir(paths::attestations_dir(repo_root))) {
    if (entry.name.ends_with(".yaml")) return false;
  }
  return true;
}

std::optional<double> _config_anchor(const path& repo_root) {
  if (const std::optional<double> installed = _installed_at(repo_root)) return installed;
  const path legacy = paths::legacy_dir(repo_root);
  for (const path& candidate : {paths::local_config_file(repo_root), legacy / "config.yaml", legacy / "config.json"}) {
    if (const std::optional<struct stat> st = core::file_status(candidate))
      return static_cast<double>(st->st_mtim.tv_sec);
  }
  return std::nullopt;
}

std::optional<double> _installed_at(const path& repo_root) {
  std::optional<std::string> installed_at;
  try {
    installed_at = services::read_local_config(repo_root).installed_at;
  } catch (...) {
    return std::nullopt;
  }
  if (!installed_at) return std::nullopt;
  const std::optional<double> seconds = core::parse_iso8601(*installed_at);
  if (!seconds) return std::nullopt;
  return std::floor(*seconds);
}

}  // namespace tamrik::synccore
