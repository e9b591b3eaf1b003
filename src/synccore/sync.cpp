#include "synccore/sync.hpp"

#include "core/best_effort.hpp"
#include "core/errors.hpp"
#include "host/commands/mcp.hpp"
#include "host/hooks/foreign_hooks.hpp"
#include "host/hooks/installer.hpp"
#include "host/paths.hpp"
#include "host/services/gitignore.hpp"
#include "synccore/configured_agents.hpp"
#include "synccore/rules_cache.hpp"

namespace tamrik::synccore {

namespace {

// The installer reports a failed agent instead of raising; here that is a
// failed repair like any other.
void install_agent_hooks(const path& repo_root) {
  for (const hooks::installer::StepReport& step :
       hooks::installer::_install_session_start_hook(repo_root, configured_agents(repo_root))) {
    if (step.outcome == hooks::installer::Outcome::failed) {
      throw core::Error("SelfHealError", step.name + ": " + step.detail);
    }
  }
}

}  // namespace

Json SyncReport::summary() const {
  return {{"attestations_uploaded", upload.has_value() && upload->ok},
          {"cache_refreshed", refresh.has_value() && refresh->ok}};
}

SyncReport run_sync_detailed(const Checkout& checkout, std::string_view api_key, std::string_view api_url,
                             const Json& project_id) {
  SyncReport report;
  report.attestation = _file_committed_attestation(checkout);
  const path& repo_root = checkout.home;
  _refresh_local_static_files(repo_root);

  using core::best_effort;
  best_effort("Entire hook strip skipped", [&] { hooks::installer::cleanup_entire(repo_root); });
  best_effort("Gitignore self-heal skipped", [&] {
    namespace shared = services::shared;
    report.ignore_block_moved = shared::migrate_gitignore_block(repo_root) == shared::Migration::moved;
    shared::ensure_gitignore(repo_root);
  });
  best_effort("Agent hook self-heal skipped", [&] { install_agent_hooks(repo_root); });
  best_effort("Agent MCP self-heal skipped", [&] {
    commands::mcp::install_mcp_for_agents(repo_root, configured_agents(repo_root), hooks::installer::current_program());
  });

  if (!core::is_set(project_id) || api_key.empty()) return report;
  report.upload = upload_attestations(api_key, api_url, repo_root, paths::attestations_dir(repo_root), project_id);
  report.refresh = refresh_context_cache_detailed(api_key, api_url, repo_root, project_id, true);
  return report;
}

Json run_sync(const Checkout& checkout, std::string_view api_key, std::string_view api_url, const Json& project_id) {
  return run_sync_detailed(checkout, api_key, api_url, project_id).summary();
}

}  // namespace tamrik::synccore
