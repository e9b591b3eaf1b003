#include "synccore/catch_up.hpp"

#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/log.hpp"
#include "core/time_text.hpp"
#include "host/services/setup_list.hpp"
#include "host/agents/registry.hpp"
#include "host/paths.hpp"
#include "host/services/shared.hpp"
#include "synccore/capture.hpp"
#include "synccore/git.hpp"
#include "synccore/ledger.hpp"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <map>

namespace tamrik::synccore {

namespace {

const core::Logger logger("synccore");

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

// The unrecorded commits from `tips` (HEAD when empty) down to the newest
// recorded one, skipping those made before `anchor` (seconds since the
// epoch).
Backlog find_backlog(const Checkout& checkout, const std::vector<std::string>& tips, int limit,
                     std::optional<double> anchor) {
  Backlog backlog;
  std::vector<std::string> args = {"log", "--format=%H %ct", "-n" + std::to_string(limit)};
  args.insert(args.end(), tips.begin(), tips.end());
  for (const std::string& line : _git_lines(args, checkout.work_tree)) {
    const size_t blank = line.find(' ');
    const std::string hash = line.substr(0, blank);
    const std::string time_text = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (hash.empty()) continue;
    if (_already_recorded(checkout.home, hash)) break;
    const std::optional<double> time = parse_number(time_text);
    if (anchor && time && *time < *anchor) continue;
    backlog.pending.push_back(hash);
    if (time) backlog.commit_times[hash] = *time;
    backlog.oldest_time_text = time_text;
  }
  return backlog;
}

// hash -> every (adapter, session) that claims it, from one scan per adapter.
std::map<std::string, std::vector<std::pair<std::string, std::string>>> session_hits(const path& work_tree,
                                                                                    const Backlog& backlog,
                                                                                    std::optional<double> since) {
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> hits;
  for (const agents::Adapter* adapter : agents::iter_adapters()) {
    try {
      const std::optional<agents::SessionHits> found =
          adapter->sessions_mentioning(work_tree, backlog.pending, since, backlog.commit_times);
      if (!found) continue;
      for (const auto& [hash, sessions] : *found) {
        for (const std::string& session : sessions) hits[hash].emplace_back(adapter->name(), session);
      }
    } catch (const std::exception& e) {
      logger.debug("%s session scan failed (best-effort)", {adapter->name()}, e);
    }
  }
  return hits;
}

// Whether commits made before setup are skipped on every walk, or only
// while nothing is recorded yet.
enum class SetupFloor { first_run, always };

// Records the backlog from `tips` (HEAD when empty), each commit attributed
// only on a single claimant's word. The caller holds the ledger lock.
std::vector<BackfillResult> walk_and_record_from(const Checkout& checkout, const std::vector<std::string>& tips,
                                                 int limit, SetupFloor floor) {
  std::vector<BackfillResult> results;
  try {
    if (!services::setup_list::is_set_up(checkout.home)) return results;
    const bool floored = floor == SetupFloor::always || _nothing_recorded_yet(checkout.home);
    const std::optional<double> anchor = floored ? _config_anchor(checkout.home) : std::nullopt;
    const Backlog backlog = find_backlog(checkout, tips, limit, anchor);
    if (backlog.pending.empty()) return results;

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
  } catch (const std::exception& e) {
    logger.debug("catch-up walk failed (best-effort)", {}, e);
  }
  return results;
}

}  // namespace

std::vector<BackfillResult> catch_up_commits(const Checkout& checkout, int limit) {
  try {
    if (!services::setup_list::is_set_up(checkout.home)) return {};
    const core::LockGuard guard = core::locked(paths::log_jsonl(checkout.home), std::chrono::seconds(30));
    if (!guard.acquired()) return {};
    return _walk_and_record(checkout, limit);
  } catch (const std::exception& e) {
    logger.debug("catch_up_commits failed (best-effort)", {}, e);
    return {};
  }
}

std::vector<BackfillResult> _walk_and_record(const Checkout& checkout, int limit) {
  return walk_and_record_from(checkout, {}, limit, SetupFloor::first_run);
}

std::vector<BackfillResult> catch_up_below(const Checkout& checkout, const std::vector<std::string>& parents) {
  try {
    std::vector<std::string> tips;
    for (const std::string& parent : parents) {
      if (!_already_recorded(checkout.home, parent)) tips.push_back(parent);
    }
    if (tips.empty() || !services::setup_list::is_set_up(checkout.home)) return {};
    const core::LockGuard guard = core::locked(paths::log_jsonl(checkout.home), std::chrono::seconds(30));
    if (!guard.acquired()) return {};
    // Always floored at setup: the parent of the first commit recorded here
    // is history from before tamrik, not a backlog.
    return walk_and_record_from(checkout, tips, kCatchUpLimit, SetupFloor::always);
  } catch (const std::exception& e) {
    logger.debug("catch-up below a new commit failed (best-effort)", {}, e);
    return {};
  }
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
    if (const std::optional<struct stat> st = core::file_status(candidate)) return static_cast<double>(st->st_mtim.tv_sec);
  }
  return std::nullopt;
}

std::optional<double> _installed_at(const path& repo_root) {
  core::Json config;
  try {
    config = services::shared::load_local_config(repo_root);
  } catch (...) {
    return std::nullopt;
  }
  const auto raw = config.find("installed_at");
  if (raw == config.end() || !raw->is_string()) return std::nullopt;
  const std::optional<double> seconds = core::parse_iso8601(raw->get<std::string>());
  if (!seconds) return std::nullopt;
  return std::floor(*seconds);
}

}  // namespace tamrik::synccore
