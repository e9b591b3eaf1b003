#include "synccore/context_refresh.hpp"

#include "core/best_effort.hpp"
#include "core/errors.hpp"
#include "core/log.hpp"
#include "host/hooks/agent_guidance.hpp"
#include "host/services/local_config.hpp"
#include "host/services/context_cache.hpp"
#include "synccore/configured_agents.hpp"
#include "synccore/context_fetch.hpp"
#include "synccore/diagnostics.hpp"
#include "synccore/platform_skills.hpp"
#include "synccore/project.hpp"

namespace tamrik::synccore {

namespace {

namespace cache = services::context_cache;

RefreshResult failed(const path& repo_root, RefreshStage stage, const std::exception_ptr& failure) {
  RefreshResult result{.ok = false, .stage = stage};
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    result.error = core::class_name_of(e);
    result.code = failure_code(e);
    logger.debug("Context cache refresh failed at stage %s", {stage_name(stage)}, e);
    if (tamrik_debug_enabled()) result.log_path = _write_sync_debug_log(repo_root, stage_name(stage), e);
  } catch (...) {
    result.error = "UnknownError";
  }
  return result;
}

// After a needed fetch failed: the statuses of the failed fetches only, so
// the readers know the cached copies were not confirmed. What did arrive
// is not kept; a half-new cache would mix two versions of the project.
void record_failures(const path& repo_root, const cache::Documents& documents) {
  cache::Documents failures;
  for (const auto& [name, document] : documents) {
    if (document.status != 200 && document.status != 304) failures[name] = document;
  }
  try {
    cache::record_fetches(repo_root, failures);
  } catch (const std::exception& e) {
    logger.debug("Recording the failed fetches failed", {}, e);
  }
}

void place_fetched_skills(const path& repo_root, const std::vector<std::string>& agents,
                          const cache::Documents& documents) {
  const auto skills = documents.find(cache::SKILLS);
  if (skills == documents.end() || skills->second.status != 200) return;
  for (const cache::Skill& skill : cache::skills_of(skills->second.content)) {
    for (const std::string& agent : agents) hooks::agent_guidance::place_skill(repo_root, agent, skill);
  }
}

// Whether the configuration asks for new guidance blocks (`guidance: true`).
bool guidance_requested(const path& repo_root) { return services::read_local_config(repo_root).guidance; }

// Outside .tamrik: only on an interactive sync. Each step is guarded on its
// own, so a failed install keeps neither the skills nor the guidance from
// their places. Returns the guidance files written.
std::vector<path> update_workspace(const path& repo_root, const cache::Documents& documents) {
  using core::best_effort;
  best_effort("Platform skill install failed", [&] { ensure_platform_skills(repo_root); });
  std::vector<std::string> agents;  // none when the configuration cannot be read
  best_effort("Reading the configured agents failed",
              [&] { agents = configured_agents(repo_root).value_or(std::vector<std::string>{}); });
  best_effort("Platform skill placement failed", [&] { place_fetched_skills(repo_root, agents, documents); });
  std::vector<path> guidance;
  best_effort("Agent guidance rewrite failed", [&] {
    guidance = hooks::agent_guidance::write_guidance(repo_root, agents, guidance_requested(repo_root));
  });
  return guidance;
}

}  // namespace

std::string_view stage_name(RefreshStage stage) {
  switch (stage) {
    case RefreshStage::project:
      return "project";
    case RefreshStage::credentials:
      return "credentials";
    case RefreshStage::config:
      return "config";
    case RefreshStage::fetch:
      return "fetch";
    case RefreshStage::write:
      return "write";
    case RefreshStage::record:
      return "record";
  }
  return "?";
}

RefreshResult refresh_context_cache_detailed(std::string_view api_key, std::string_view api_url, const path& repo_root,
                                             const Json& project_id, bool mutate_workspace) {
  if (!core::is_set(project_id)) return {.ok = false, .stage = RefreshStage::project};
  if (api_key.empty()) return {.ok = false, .stage = RefreshStage::credentials};
  RefreshStage stage = RefreshStage::config;
  try {
    const std::map<std::string, std::string> etags = cache::stored_etags(repo_root);
    stage = RefreshStage::fetch;
    const detail::FetchedContext fetched =
        detail::fetch_context_documents(api_key, api_url, project_id, etags, CONTEXT_FETCH_WORKERS);
    if (fetched.needed_failure) {
      record_failures(repo_root, fetched.documents);
      return failed(repo_root, stage, fetched.needed_failure);
    }
    stage = RefreshStage::write;
    cache::write_documents(repo_root, fetched.documents);
    stage = RefreshStage::record;
    cache::record_fetches(repo_root, fetched.documents);
    RefreshResult result{.ok = true};
    if (mutate_workspace) result.guidance_written = update_workspace(repo_root, fetched.documents);
    return result;
  } catch (...) {
    return failed(repo_root, stage, std::current_exception());
  }
}

bool refresh_context_cache(std::string_view api_key, std::string_view api_url, const path& repo_root,
                           const Json& project_id, bool mutate_workspace) {
  return refresh_context_cache_detailed(api_key, api_url, repo_root, project_id, mutate_workspace).ok;
}

}  // namespace tamrik::synccore
