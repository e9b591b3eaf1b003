#pragma once
// The context-cache refresh: the project's rules, state, specs, guardrails,
// skills, documents and memories fetched from the platform into the local
// cache agents read (see host/services/context_cache.hpp for its files),
// with the outcome of each fetch recorded so that the cached rule count
// says whether it can be trusted.

#include "core/json.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::synccore {

using core::Json;
using std::filesystem::path;

// Fetches run at once, each on its own worker.
inline constexpr std::size_t CONTEXT_FETCH_WORKERS = 6;

// The stages of a refresh, in order; a failed refresh names the one it
// stopped at.
enum class RefreshStage { project, credentials, config, fetch, write, record };

// "project", "credentials", "config", "fetch", "write", "record".
std::string_view stage_name(RefreshStage stage);

struct RefreshResult {
  bool ok = false;
  std::optional<RefreshStage> stage;   // which stage failed
  std::optional<std::string> error;    // the failing error's class name; none when nothing was raised
  std::optional<std::string> code;     // its failure code (synccore/project.hpp's failure_code)
  std::optional<path> log_path;        // the debug log holding the failure, when one was written
  std::vector<path> guidance_written;  // guidance files the refresh wrote, relative to the root

  explicit operator bool() const { return ok; }
};

// Refreshes repo_root's cache from project `project_id` (an integer or
// text). The rules and state are asked for in one conditional request with
// the tags of the cached copies; the project context, memories, specs,
// guardrails, skills and custom documents alongside, on
// CONTEXT_FETCH_WORKERS workers. The rules, state, project context and
// memories are needed; a failure of any other fetch is logged and leaves
// its cached copy as it was. When a needed fetch fails nothing is written
// but the failed fetches' statuses, so the cache stays one consistent
// snapshot and its readers know it was not confirmed.
//
// With `mutate_workspace` false (a hook) every write stays inside .tamrik.
// With it true (an interactive sync) the platform skills are installed when
// missing, the fetched skills are placed where each configured agent reads
// skills, and tamrik's block in each configured agent's guidance file is
// rewritten when it changed (host/hooks/agent_guidance.hpp): a block already
// there always, a new one only with `guidance: true` in the configuration.
// A failure there is logged and does not fail the refresh.
//
// Never throws. A debug log entry is written for a failure only while
// TAMRIK_DEBUG is on.
RefreshResult refresh_context_cache_detailed(std::string_view api_key, std::string_view api_url, const path& repo_root,
                                             const Json& project_id, bool mutate_workspace);

// The same, as a bool: whether the refresh succeeded.
bool refresh_context_cache(std::string_view api_key, std::string_view api_url, const path& repo_root,
                           const Json& project_id, bool mutate_workspace = true);

}  // namespace tamrik::synccore
