#pragma once
// What one agent session's transcripts show about a batch of commits, and
// the rule that turns it into "this session made (or mentions) that commit".
//
// A session made a commit when one of its shell calls ran `git commit` and
//  - git's summary line in the call's output names the commit, or
//  - the output names no commit, the call did not fail, and the commit's time
//    falls inside the call (from the call to its result, a few seconds of
//    slack for whole-second commit times).
// A call whose output names another commit made that one, not ours. Failing
// every maker, sessions that mention the hash (in full, or abbreviated the
// way git writes commits) are listed instead.

#include "host/agents/commit_hashes.hpp"
#include "host/agents/registry.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::agents {

enum class CallOutcome { succeeded, failed, unknown };

// One shell call that ran `git commit`.
struct CommitCall {
  std::string id;      // pairs the call with its result; "" when the harness gives none
  double started = 0;  // seconds since the epoch; 0 when unknown
  std::string cwd;     // where it ran; "" when unknown
  bool answered = false;
  double ended = 0;
  CallOutcome outcome = CallOutcome::unknown;
  std::vector<std::string> summary_hashes;  // commits git's summary says it made
};

// Fills in the call's result from the tool's output text.
void answer_call(CommitCall& call, double ended, CallOutcome outcome, std::string_view output);

// The batch being looked for: the hashes and what is known about each.
struct ScanRequest {
  ScanRequest(const std::filesystem::path& repo_root, const std::vector<std::string>& shas, std::optional<double> since,
              const std::map<std::string, double>& commit_times);

  HashIndex hashes;
  std::vector<std::string> shas;                    // as the caller gave them: the keys of the answer
  std::vector<std::optional<double>> commit_times;  // per hash
  std::optional<double> since;
  std::vector<std::filesystem::path> repo_roots;  // as given and with links resolved

  // Whether a call made in `cwd` can have committed to this repository: one
  // directory holds the other. True when the harness does not say.
  bool related_directory(std::string_view cwd) const;
};

class SessionEvidence {
 public:
  // A call with an id already seen replaces it (harnesses rewrite records).
  void add_call(CommitCall call);
  // Pairs the result with its call; ignored for ids that are no git commit.
  void add_result(std::string_view call_id, double ended, CallOutcome outcome, std::string_view output);
  void add_mention(std::size_t hash) { mentions_.insert(hash); }

  const std::vector<CommitCall>& calls() const { return calls_; }
  // Ids of calls still waiting for their result, newest last.
  std::vector<std::string> open_call_ids() const;

  bool made(std::size_t hash, const ScanRequest& request) const;
  bool mentions(std::size_t hash) const { return mentions_.count(hash) != 0; }

 private:
  std::vector<CommitCall> calls_;
  std::set<std::size_t> mentions_;
};

// For each hash of the request: the sessions that made it or, when none did,
// those that mention it. Hashes nobody names are left out.
SessionHits decide_hits(const std::map<std::string, SessionEvidence>& sessions, const ScanRequest& request);

}  // namespace tamrik::agents
