#include "cli/sync_command.hpp"

#include "attest/hook.hpp"
#include "attest/nudge.hpp"
#include "cli/detached.hpp"
#include "cli/sync_run_command.hpp"
#include "core/deferred_flush.hpp"
#include "host/agents/registry.hpp"
#include "host/services/hook_payload.hpp"
#include "host/services/session_context.hpp"
#include "host/services/shared.hpp"
#include "synccore/capture.hpp"
#include "synccore/ledger.hpp"
#include "synccore/rewritten_history.hpp"

#include <unistd.h>

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
failure to .tamrik/.platform/logs/sync.log.

The sync waits at most 60 s for the platform, all requests together (--timeout SECONDS); on a
terminal a line on stderr says which request it is waiting for and when it gives up.)";
constexpr const char* kRecordCommitHelp =
    "Post-commit hook: record HEAD, start the upload in the background, print nothing, always exit 0.";

constexpr const char* kRecordRewriteHelp =
    "Post-rewrite hook: carry the records of the commits git lists on stdin (\"<old> <new>\" lines) to their new "
    "commits, print nothing, always exit 0. KIND is what git passes: amend or rebase.";

// The most of git's list of rewritten commits read: some 100 000 commits.
constexpr size_t kRewrittenListCap = size_t{16} << 20;

// The commit or rewrite must not wait on the network.
void upload_in_background(const path& home) {
  if (!services::session_context::resolve_session(home).connected) return;
  run_detached([home] {
    // Off the commit's path, the upload may wait for the lock as any sync.
    synccore::limit_lock_waits(std::chrono::minutes(1));
    attest::_upload_best_effort(home);
  });
}

// Records HEAD as the post-commit entry does, keeping the result: an agent's
// commit that went in unattested is marked for the nudge its harness's own
// hook shows next. A person's commit is nobody's to nudge about. Whether a
// record was written.
bool record_head(const services::Checkout& checkout) {
  const synccore::BackfillResult result = synccore::capture_head_at_commit(checkout);
  if (!result.written) return false;
  const bool agents_commit = agents::detect_active_agent() != nullptr;
  if (agents_commit && !result.attested) {
    attest::mark_unattested_head(checkout.work_tree, result.commit);
  } else if (agents_commit && result.mismatched) {
    attest::mark_unattested_head(checkout.work_tree, result.commit, attest::NudgeReason::mismatched);
  } else {
    attest::clear_unattested_head(checkout.work_tree);
  }
  return true;
}

}  // namespace

// Git runs the hook at the top of the checkout that committed, whichever
// worktree it is. A repository that is not set up records nothing, as with
// every other trigger. git waits for the hook, and the person for git: the
// record is whole for every reader when the hook returns, and reaches the
// disk moments later, from a child nobody waits for.
int record_commit_from_hook() {
  synccore::limit_lock_waits(synccore::kHookLockBudget);
  try {
    const std::optional<services::Checkout> checkout = attest::_set_up_checkout_for(std::filesystem::current_path());
    if (!checkout) return 0;
    core::DeferredFlushes flushes;
    if (!record_head(*checkout)) return 0;
    flushes.hand_over();
    upload_in_background(checkout->home);
  } catch (...) {
    // Never fail the commit; the catch-up walk records what was missed.
  }
  return 0;
}

// Git names the command that rewrote (amend, rebase); both carry the same way.
int record_rewrite_from_hook() {
  synccore::limit_lock_waits(synccore::kHookLockBudget);
  try {
    const std::optional<services::Checkout> checkout = attest::_set_up_checkout_for(std::filesystem::current_path());
    if (!checkout) return 0;
    const std::optional<std::string> list =
        services::shared::read_hook_input(STDIN_FILENO, {.max_bytes = kRewrittenListCap});
    if (!list) return 0;
    const std::vector<synccore::MadeFrom> made = synccore::parse_rewritten_list(*list);
    core::DeferredFlushes flushes;
    if (!synccore::carry_records(*checkout, made, synccore::CarryKind::rewrite)) return 0;
    flushes.hand_over();
    upload_in_background(checkout->home);
  } catch (...) {
    // Never fail the rewrite; the new commits keep their own records.
  }
  return 0;
}

void add_sync_command(CLI::App& parent, attest::SelectedCommand& selected) {
  CLI::App* sync = parent.add_subcommand("sync", kSyncDescription);
  sync->footer(kSyncFooter);
  auto record_commit = std::make_shared<bool>(false);
  auto rewrite_kind = std::make_shared<std::string>();
  auto run_options = std::make_shared<SyncRunOptions>(SyncRunOptions{.show_waiting = true});
  CLI::Option* record_flag = sync->add_flag("--record-commit", *record_commit, kRecordCommitHelp);
  CLI::Option* rewrite_option = sync->add_option("--record-rewrite", *rewrite_kind, kRecordRewriteHelp)
                                    ->option_text("KIND")
                                    ->check(CLI::IsMember({"amend", "rebase"}))
                                    ->excludes(record_flag);
  add_sync_run_options(*sync, {record_flag, rewrite_option}, *run_options);
  // The callback owns what the options write into.
  sync->callback([sync, record_commit, rewrite_kind, run_options, &selected] {
    if (*record_commit) {
      selected = {sync, record_commit_from_hook};
    } else if (!rewrite_kind->empty()) {
      selected = {sync, record_rewrite_from_hook};
    } else {
      selected = {sync, [run_options] { return run_sync_command(*run_options); }};
    }
  });
}

}  // namespace tamrik::cli
