#include "attest/add.hpp"

#include "attest/hook.hpp"
#include "attest/usage_error.hpp"
#include "synccore/synccore.hpp"

#include <filesystem>
#include <vector>

namespace tamrik::attest {

namespace {

using display::output::Console;

constexpr std::size_t kShownHashLength = 12;

std::string shown(const std::string& commit) { return commit.substr(0, kShownHashLength); }

bool attach_mode(const AddOptions& options, const services::Checkout& checkout) {
  return options.commit && !options.commit->empty() && !options.session_id && !options.task_type &&
         core::path_exists(paths::commit_attestation(checkout.work_tree));
}

int attach(const services::Checkout& checkout, const std::string& commit, const Console& console) {
  const synccore::BackfillResult result = synccore::attach_pending_attestation(checkout, commit);
  if (!result.written) {
    console.error(commit + ": " + result.reason);
    return 1;
  }
  console.success("Attached attestation to " + shown(result.commit));
  return 0;
}

void require_backfill_options(const AddOptions& options) {
  std::vector<std::string> missing;
  if (!options.commit) missing.emplace_back("--commit");
  if (!options.session_id) missing.emplace_back("--session");
  if (!options.task_type) missing.emplace_back("--task-type");
  if (missing.empty()) return;
  std::string names;
  for (const std::string& name : missing) names += (names.empty() ? "" : ", ") + name;
  throw UsageError("Missing required options: " + names);
}

int backfill(const services::Checkout& checkout, const AddOptions& options, const Console& console) {
  require_backfill_options(options);
  const synccore::BackfillResult result = synccore::record_backfill(
      checkout, {.commit = *options.commit, .session_id = *options.session_id, .task_type = *options.task_type});
  if (result.written) {
    std::string message = "Recorded " + shown(result.commit) + " (" + *options.task_type + ")";
    if (!result.tokens) message += " — no token counts in that transcript";
    console.success(message);
    return 0;
  }
  if (result.outcome == synccore::RecordOutcome::already_recorded) {
    console.info(shown(result.commit) + " already recorded");
    return 0;
  }
  console.error(*options.commit + ": " + result.reason);
  return 1;
}

}  // namespace

int run_attest_add_from_hook(const std::optional<std::string>& agent) {
  synccore::limit_lock_waits(synccore::kHookLockBudget);
  _add_from_hook(agent);
  return 0;
}

int run_attest_add(const AddOptions& options, const Console& console) {
  if (options.from_hook) return run_attest_add_from_hook(options.agent);
  if (options.agent) throw UsageError("--agent is only for hook rows (with --from-hook)");
  const services::Checkout checkout = services::current_checkout();
  if (attach_mode(options, checkout)) return attach(checkout, *options.commit, console);
  return backfill(checkout, options, console);
}

}  // namespace tamrik::attest
