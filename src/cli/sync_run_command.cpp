#include "cli/sync_run_command.hpp"

#include "cli/waiting_line.hpp"
#include "synccore/synccore.hpp"

namespace tamrik::cli {

namespace {

using core::Json;
using display::output::Console;
using std::filesystem::path;
namespace http_client = protocol::http_client;
namespace session_context = services::session_context;

// "commit 0123456789ab", or "HEAD" for an attestation that named no change.
std::string commit_text(const std::optional<std::string>& commit) {
  return commit ? "commit " + commit->substr(0, 12) : "HEAD";
}

void report_attestation(const synccore::PendingFiling& filing, const Console& console) {
  const synccore::AttestationResult& result = filing.result;
  if (filing.waiting) {
    console.info("Attestation waiting: it is for a staged change no commit holds yet; it is filed once committed.");
  } else if (result.error) {
    console.error("Could not file the pending attestation: " + *result.error);
  } else if (result.found) {
    console.success("Filed the pending attestation for " + commit_text(result.matched_commit) + ".");
  }
}

// The pending attestation is filed before linking, and the run looks again:
// what it finds (the same attestation still waiting for its commit, or one
// written meanwhile) is the latest word.
void report_attestations(const synccore::AttestationResult& before_linking, const synccore::PendingFiling& in_run,
                         const Console& console) {
  report_attestation(in_run.result.found ? in_run : synccore::PendingFiling{before_linking}, console);
}

// The project id to sync with: the configured one, or the one linking gave;
// null when linking failed.
Json linked_project(const session_context::Session& session,
                    const std::optional<synccore::ProjectResolution>& resolution, const Console& console) {
  if (!resolution) {
    if (session.linked()) return session.project_id;
    // Set, but neither a positive number nor a name: nothing to sync with.
    console.error(
        "The project_id in .tamrik/.platform/config.yaml is not usable; remove it and run `tamrik sync` "
        "again to link the repository.");
    return nullptr;
  }
  if (!resolution->ok()) {
    console.error("Not linked to a project: " + resolution->reason.value_or("unknown reason"));
    console.info(synccore::remedy(resolution->code));
    return nullptr;
  }
  const std::string title = resolution->title ? " (" + *resolution->title + ")" : "";
  console.success((resolution->created ? "Created and linked project " : "Linked to project ") +
                  std::to_string(*resolution->project_id) + title + ".");
  return *resolution->project_id;
}

// Names the debug log when it holds the failure, else says how to get one.
void point_at_details(const std::optional<path>& log, const Console& console) {
  if (log) {
    console.info("details: " + log->string());
  } else if (!synccore::tamrik_debug_enabled()) {
    console.info("Run it again with TAMRIK_DEBUG=1 to log the details.");
  }
}

bool report_upload(const synccore::UploadResult& upload, const Console& console) {
  if (upload.set_aside > 0) {
    console.warning(std::to_string(upload.set_aside) +
                    " record(s) are too large for the platform and were set aside, not uploaded; "
                    "`tamrik status` names them and says how to shrink them.");
  }
  if (!upload.ok) {
    console.error("Upload failed: " + upload.error.value_or("unknown error") +
                  ". The records stay pending; the next `tamrik sync` sends them.");
    return false;
  }
  if (!upload.already_synced) {
    console.success("Uploaded " + std::to_string(upload.uploaded) + " record(s).");
  } else if (upload.set_aside == 0) {
    console.info("Nothing to upload: every record is on the platform.");
  }
  if (upload.skipped_invalid > 0) {
    console.warning(
        std::to_string(upload.skipped_invalid) +
        " ledger record(s) could not be sent (no usable commit, or a corrupt archive); see `tamrik status`.");
  }
  return true;
}

bool report_refresh(const synccore::RefreshResult& refresh, const path& repo_root, const Console& console) {
  if (!refresh.ok) {
    const std::string_view stage = refresh.stage ? synccore::stage_name(*refresh.stage) : "?";
    console.error("Context refresh failed at " + std::string(stage) +
                  (refresh.error ? " (" + *refresh.error + ")" : "") + "; the cached context is kept.");
    if (const std::optional<std::string> advice = synccore::failure_advice(refresh.code)) console.info(*advice);
    point_at_details(refresh.log_path, console);
    return false;
  }
  const synccore::RulesCacheState rules = synccore::read_rules_cache_state(paths::platform_dir(repo_root));
  console.success("Refreshed the project context; rules: " + rules.describe() + ".");
  for (const path& file : refresh.guidance_written) {
    console.info("Updated tamrik's guidance block in " + file.string() + ".");
  }
  return true;
}

// Links, syncs and reports; the exit status.
int sync_and_report(const services::Checkout& checkout, const session_context::Session& session,
                    const SyncRunOptions& options, const Console& console) {
  const path& repo_root = checkout.home;
  try {
    // The pending attestation is filed before linking may wait on the
    // network. Linking may fail; the sync still repairs the repository, so
    // nothing waits for a project.
    const auto [archived, resolution] =
        synccore::resolve_if_unlinked(checkout, session.api_key, session.api_url, options.team_id);
    const Json project_id = linked_project(session, resolution, console);
    bool failed = project_id.is_null();
    const synccore::SyncReport report =
        synccore::run_sync_detailed(checkout, session.api_key, session.api_url, project_id);
    report_attestations(archived, report.attestation, console);
    if (report.ignore_block_moved)
      console.info(services::shared::migration_notice(services::shared::Migration::moved) + ".");
    if (report.upload) failed = !report_upload(*report.upload, console) || failed;
    if (report.refresh) failed = !report_refresh(*report.refresh, repo_root, console) || failed;
    if (!project_id.is_null() && !session.signed_in()) {
      console.warning("Not signed in: the records stay local. " + synccore::remedy(synccore::NOT_SIGNED_IN));
      failed = true;
    }
    return failed ? 1 : 0;
  } catch (const std::exception& e) {
    console.error("tamrik sync failed (" + core::class_name_of(e) + ").");
    point_at_details(
        synccore::tamrik_debug_enabled() ? synccore::_write_sync_debug_log(repo_root, "sync", e) : std::nullopt,
        console);
    return 1;
  }
}

std::string seconds_text(std::chrono::milliseconds duration) {
  const auto whole = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  return whole >= 1 ? std::to_string(whole) + " s" : std::to_string(duration.count()) + " ms";
}

}  // namespace

int run_sync_command(const SyncRunOptions& options, const Console& console) {
  const services::Checkout checkout = services::current_checkout();
  if (!services::setup_list::is_set_up(checkout.home)) {
    console.error("tamrik is not set up in " + checkout.home.string() + "; run `tamrik setup` first.");
    return 1;
  }
  const session_context::Session session = session_context::resolve_session(checkout.home);
  const http_client::NetworkBudget deadline(options.deadline);
  int status = 0;
  {
    const WaitingLine waiting(options.show_waiting);
    status = sync_and_report(checkout, session, options, console);
  }
  // Time up: the failures above were the platform's silence.
  const std::optional<std::chrono::milliseconds> left = http_client::network_time_left();
  if (status == 0 || !left || *left > std::chrono::milliseconds(0)) return status;
  console.error("Stopped waiting for the platform at " + session.api_url + " after " + seconds_text(options.deadline) +
                ", the time a sync allows: it did not answer in time. Check that it is running, then run "
                "`tamrik sync` again (--timeout allows longer).");
  return 1;
}

}  // namespace tamrik::cli
