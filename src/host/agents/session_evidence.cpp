#include "host/agents/session_evidence.hpp"

#include "host/agents/git_commit_text.hpp"

#include <algorithm>

namespace tamrik::agents {

namespace fs = std::filesystem;

namespace {

// Commit times are whole seconds and transcript times are the harness's
// clock on the same machine: a little slack on either side of a call.
constexpr double kSlackSeconds = 2;
// A call whose result is not written yet (transcripts lag) is taken to have
// lasted at most this long: room for slow pre-commit hooks.
constexpr double kUnansweredSeconds = 120;

fs::path resolved(const fs::path& dir) {
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(dir, ec);
  return ec ? dir.lexically_normal() : canonical;
}

bool contains_dir(const fs::path& outer, const fs::path& inner) {
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end() && !o->empty(); ++o, ++i) {
    if (i == inner.end() || *o != *i) return false;
  }
  return true;
}

bool names_commit(const std::vector<std::string>& summary_hashes, const std::string& full_hash) {
  return std::any_of(summary_hashes.begin(), summary_hashes.end(), [&](const std::string& abbrev) {
    return abbrev.size() <= full_hash.size() && full_hash.compare(0, abbrev.size(), abbrev) == 0;
  });
}

}  // namespace

void answer_call(CommitCall& call, double ended, CallOutcome outcome, std::string_view output) {
  call.answered = true;
  call.ended = ended;
  call.outcome = outcome;
  call.summary_hashes = commit_summary_hashes(output);
}

ScanRequest::ScanRequest(const fs::path& repo_root, const std::vector<std::string>& shas_in,
                         std::optional<double> since_in, const std::map<std::string, double>& times)
    : hashes(shas_in), shas(shas_in), since(since_in) {
  commit_times.reserve(shas.size());
  for (const std::string& sha : shas) {
    const auto it = times.find(sha);
    commit_times.push_back(it == times.end() ? std::nullopt : std::optional<double>(it->second));
  }
  if (!repo_root.empty()) {
    repo_roots.push_back(repo_root.lexically_normal());
    repo_roots.push_back(resolved(repo_root));
  }
}

bool ScanRequest::related_directory(std::string_view cwd) const {
  if (cwd.empty() || repo_roots.empty()) return true;
  const fs::path given = fs::path(cwd).lexically_normal();
  const fs::path real = resolved(given);
  return std::any_of(repo_roots.begin(), repo_roots.end(), [&](const fs::path& root) {
    return contains_dir(root, given) || contains_dir(given, root) || contains_dir(root, real) ||
           contains_dir(real, root);
  });
}

void SessionEvidence::add_call(CommitCall call) {
  if (!call.id.empty()) {
    auto same = std::find_if(calls_.begin(), calls_.end(), [&](const CommitCall& c) { return c.id == call.id; });
    if (same != calls_.end()) {
      *same = std::move(call);
      return;
    }
  }
  calls_.push_back(std::move(call));
}

void SessionEvidence::add_result(std::string_view call_id, double ended, CallOutcome outcome, std::string_view output) {
  if (call_id.empty()) return;
  for (CommitCall& call : calls_) {
    if (call.id == call_id) answer_call(call, ended, outcome, output);
  }
}

std::vector<std::string> SessionEvidence::open_call_ids() const {
  std::vector<std::string> ids;
  for (const CommitCall& call : calls_) {
    if (!call.answered && !call.id.empty()) ids.push_back(call.id);
  }
  return ids;
}

bool SessionEvidence::made(std::size_t hash, const ScanRequest& request) const {
  const std::string& full = request.hashes.hashes()[hash];
  const std::optional<double>& committed = request.commit_times[hash];
  for (const CommitCall& call : calls_) {
    if (call.outcome == CallOutcome::failed) continue;
    if (!call.summary_hashes.empty()) {
      if (names_commit(call.summary_hashes, full)) return true;
      continue;  // it made some other commit
    }
    if (!committed || call.started <= 0 || !request.related_directory(call.cwd)) continue;
    const double end = call.answered && call.ended >= call.started ? call.ended : call.started + kUnansweredSeconds;
    if (*committed >= call.started - kSlackSeconds && *committed <= end + kSlackSeconds) return true;
  }
  return false;
}

SessionHits decide_hits(const std::map<std::string, SessionEvidence>& sessions, const ScanRequest& request) {
  SessionHits hits;
  for (std::size_t hash = 0; hash < request.shas.size(); ++hash) {
    std::vector<std::string> makers;
    std::vector<std::string> mentioners;
    for (const auto& [session_id, evidence] : sessions) {
      if (evidence.made(hash, request)) {
        makers.push_back(session_id);
      } else if (evidence.mentions(hash)) {
        mentioners.push_back(session_id);
      }
    }
    std::vector<std::string>& chosen = makers.empty() ? mentioners : makers;
    if (!chosen.empty()) hits[request.shas[hash]] = std::move(chosen);
  }
  return hits;
}

}  // namespace tamrik::agents
