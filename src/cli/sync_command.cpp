#include "cli/sync_command.hpp"

#include "attest/hook.hpp"
#include "attest/nudge.hpp"
#include "cli/detached.hpp"
#include "cli/sync_run_command.hpp"
#include "host/agents/registry.hpp"
#include "host/services/session_context.hpp"
#include "host/services/shared.hpp"
#include "synccore/capture.hpp"
#include "synccore/ledger.hpp"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>

namespace tamrik::cli {

namespace {

using std::filesystem::path;

constexpr const char* kSyncDescription =
    "File the pending attestation, upload unsent records and refresh the project context.";
constexpr const char* kSyncFooter = R"(Links the repository to its platform project the first time (sign in first with
`tamrik auth login`), repairs tamrik's hooks and ignore entries, uploads every record not yet
on the platform, and refreshes the rules, specs and skills agents read. One line per outcome;
exit status 1 when linking, the upload or the refresh failed. TAMRIK_DEBUG=1 also writes the
failure to .tamrik/.platform/logs/sync.log.)";
constexpr const char* kRecordCommitHelp =
    "Post-commit hook: record HEAD, start the upload in the background, print nothing, always exit 0.";

// Records HEAD as the post-commit entry does, keeping the result: an agent's
// commit that went in unattested is marked for the nudge its harness's own
// hook shows next. A person's commit is nobody's to nudge about.
void record_head(const services::Checkout& checkout) {
  const synccore::BackfillResult result = synccore::capture_head_at_commit(checkout);
  if (!result.written) return;
  const bool agents_commit = agents::detect_active_agent() != nullptr;
  if (agents_commit && !result.attested) {
    attest::mark_unattested_head(checkout.work_tree, result.commit);
  } else if (agents_commit && result.mismatched) {
    attest::mark_unattested_head(checkout.work_tree, result.commit, attest::NudgeReason::mismatched);
  } else {
    attest::clear_unattested_head(checkout.work_tree);
  }
  // The commit must not wait on the network.
  if (services::session_context::resolve_session(checkout.home).connected) {
    run_detached([home = checkout.home] {
      // Off the commit's path, the upload may wait for the lock as any sync.
      synccore::limit_lock_waits(std::chrono::minutes(1));
      attest::_upload_best_effort(home);
    });
  }
}

}  // namespace

// Git runs the hook at the top of the checkout that committed, whichever
// worktree it is. A repository that is not set up records nothing, as with
// every other trigger.
int record_commit_from_hook() {
  synccore::limit_lock_waits(synccore::kHookLockBudget);
  try {
    if (const std::optional<services::Checkout> checkout = attest::_set_up_checkout_for(std::filesystem::current_path())) {
      record_head(*checkout);
    }
  } catch (...) {
    // Never fail the commit; the catch-up walk records what was missed.
  }
  return 0;
}

void add_sync_command(CLI::App& parent, attest::SelectedCommand& selected) {
  CLI::App* sync = parent.add_subcommand("sync", kSyncDescription);
  sync->footer(kSyncFooter);
  auto record_commit = std::make_shared<bool>(false);
  auto run_options = std::make_shared<SyncRunOptions>();
  add_sync_run_options(*sync, sync->add_flag("--record-commit", *record_commit, kRecordCommitHelp), *run_options);
  sync->callback([sync, record_commit, run_options, &selected] {
    if (*record_commit) {
      selected = {sync, record_commit_from_hook};
    } else {
      selected = {sync, [run_options] { return run_sync_command(*run_options); }};
    }
  });
}

}  // namespace tamrik::cli
