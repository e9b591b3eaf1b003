#pragma once
// How many project rules are cached and whether that number can be trusted,
// and the short summary agents see at session start. A bare "0 rules" must
// mean the project has none — not that the cache is missing, corrupt, or
// was refused by the platform.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::synccore {

using std::filesystem::path;

// Top-level sections of the cached rules document whose entries count.
inline constexpr std::array<std::string_view, 6> _RULE_SECTIONS{"principles", "adrs",        "checks",
                                                                "invariants", "constraints", "guardrails"};
// Age beyond which cached files are stale in the session summary.
inline constexpr long _STALE_THRESHOLD_SECONDS = 86400;

struct RulesCacheState {
  std::optional<long long> count;              // nullopt: no usable count
  std::optional<long long> last_fetch_status;  // HTTP status of the last rules fetch
  bool unreadable = false;                     // the rules file exists but cannot be read

  // A fetch is known to have failed: a recorded status other than 200 or 304.
  bool fetch_failed() const;
  bool trustworthy() const;
  // One line naming which case this is, for a person or an agent.
  std::string describe() const;
};

// Reads config.yaml (fetch status) and tamrikrules.yaml in `cache_dir`.
// Never fails on bad files.
RulesCacheState read_rules_cache_state(const path& cache_dir);

// The session-start summary, lines joined by "\n". `cache_dir` is the
// repository's platform directory; the pending count comes from the
// repository's ledger (log.jsonl in `cache_dir`, or in the .tamrik
// directory that holds it).
std::string generate_session_summary(const path& cache_dir, std::string_view project_id, std::string_view agent_name);

// Rewrites .tamrik/example-attestation.yaml from this version's own copy
// when it differs, so the example always matches the validator; the file
// keeps its mode. Never fails.
void _refresh_local_static_files(const path& repo_root);

}  // namespace tamrik::synccore
