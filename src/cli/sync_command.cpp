#include "cli/sync_command.hpp"

#include "attest/attest.hpp"
#include "cli/detached.hpp"
#include "synccore/synccore.hpp"

#include <unistd.h>

#include <filesystem>

namespace tamrik::cli {

namespace {

using std::filesystem::path;

// The most of git's list of rewritten commits read: some 100 000 commits.
constexpr size_t kRewrittenListCap = size_t{16} << 20;

// The commit or rewrite must not wait on the network.
void upload_in_background(const path& home) {
  if (!services::session_context::resolve_session(home).connected) return;
  run_detached("attestation upload from the commit hook failed", [home] {
    // Off the commit's path, the upload may wait for the lock as any sync.
    synccore::limit_lock_waits(std::chrono::minutes(1));
    attest::_upload_from_disk(home);
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
  // Never fail the commit; the catch-up walk records what was missed.
  core::best_effort("Recording the new commit failed", [] {
    const std::optional<services::Checkout> checkout = attest::_set_up_checkout_for(std::filesystem::current_path());
    if (!checkout) return;
    core::DeferredFlushes flushes;
    if (!record_head(*checkout)) return;
    flushes.hand_over();
    upload_in_background(checkout->home);
  });
  return 0;
}

// Git names the command that rewrote (amend, rebase); both carry the same way.
int record_rewrite_from_hook() {
  synccore::limit_lock_waits(synccore::kHookLockBudget);
  // Never fail the rewrite; the new commits keep their own records.
  core::best_effort("Carrying records across the rewrite failed", [] {
    const std::optional<services::Checkout> checkout = attest::_set_up_checkout_for(std::filesystem::current_path());
    if (!checkout) return;
    const std::optional<std::string> list =
        services::shared::read_hook_input(STDIN_FILENO, {.max_bytes = kRewrittenListCap});
    if (!list) return;
    const std::vector<synccore::MadeFrom> made = synccore::parse_rewritten_list(*list);
    core::DeferredFlushes flushes;
    if (!synccore::carry_records(*checkout, made, synccore::CarryKind::rewrite)) return;
    flushes.hand_over();
    upload_in_background(checkout->home);
  });
  return 0;
}

}  // namespace tamrik::cli
