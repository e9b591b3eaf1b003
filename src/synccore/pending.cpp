#include "synccore/pending.hpp"

#include "core/best_effort.hpp"
#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/git_runner.hpp"
#include "core/log.hpp"
#include "core/text.hpp"
#include "host/agents/registry.hpp"
#include "host/paths.hpp"
#include "host/services/git_identity.hpp"
#include "host/services/ledger_service.hpp"
#include "host/services/shared.hpp"
#include "synccore/diagnostics.hpp"
#include "synccore/git.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/records.hpp"
#include "synccore/rules_cache.hpp"

#include <unistd.h>

#include <cerrno>

namespace tamrik::synccore {

namespace {

// A text member that is present and not empty.
bool has_text(const Json& map, const char* key) { return !core::get_text(map, key).empty(); }

// An older layout kept the ledger in <repo>/.tamriklog; its lines move into
// the ledger once, then the old file goes.
void merge_legacy_ledger(const path& repo_root, const path& log_path) {
  const path legacy = paths::legacy_ledger(repo_root);
  if (!core::path_exists(legacy)) return;
  _append_log_text(log_path, core::read_file(legacy, core::kDocumentFileCap));
  if (const int error = core::remove_file(legacy); error != 0 && error != ENOENT) {
    throw core::OSError("unlink " + legacy.string(), error);
  }
}

// Replaces the attestation's `process` section with the one derived from
// the live ledger of the change it names.
void refresh_process_section(Json& parsed, const path& repo_root, const std::optional<std::string>& target) {
  core::best_effort("Process section derivation skipped", [&] {
    const std::vector<std::string> slugs = services::shared::extract_change_spec_slugs(parsed);
    std::string slug = slugs.empty() ? "" : slugs.front();
    if (slug.empty() && parsed.contains("process") && parsed["process"].is_object()) {
      slug = core::get_text(parsed["process"], "slug");
    }
    if (slug.empty()) return;
    if (std::optional<Json> section = services::ledger_service::derive_process_section(repo_root, slug)) {
      parsed["process"] = std::move(*section);
    } else if (!core::path_exists(paths::archived_ledger(repo_root, target.value_or("HEAD")))) {
      parsed.erase("process");
    }
  });
}

}  // namespace

AttestationResult process_pending_attestation(const Checkout& checkout, const PendingOptions& options) {
  const path pending = paths::commit_attestation(checkout.work_tree);
  if (!core::path_exists(pending)) return {};
  const path& repo_root = checkout.home;
  const path log_path = paths::log_jsonl(repo_root);
  const path attestations_dir = paths::attestations_dir(repo_root);

  // Two triggers can see one commit at once (the post-commit hook and the
  // agent's hook); under the ledger lock only the first files the pending
  // attestation, and the second finds it gone.
  core::make_dirs(log_path.parent_path());
  const core::LockGuard guard = detail::lock_ledger(log_path);
  if (!core::path_exists(pending)) return {};
  merge_legacy_ledger(repo_root, log_path);

  std::string text;
  try {
    text = core::read_file(pending, core::kDocumentFileCap);
  } catch (const core::OSError& e) {
    logger.warning("Could not read attestation file: %s", {e.what()});
    return {.found = true, .error = e.what()};
  }
  Json parsed = _parse_attestation_yaml(text);
  if (!parsed.is_object()) parsed = Json::object();
  _enrich_attestation(parsed, checkout);

  const std::string diff_hash = _staged_diff_hash_of(parsed);
  std::optional<std::string> target = _find_commit_by_diff_hash(checkout.work_tree, diff_hash);
  if (!target && options.commit_override) {
    target = options.commit_override;
    // Staged for another change (files added after `tamrik attest`, say):
    // filed all the same, so nothing the agent wrote is lost, but flagged
    // for the person and the platform rather than passed off as verified.
    if (!diff_hash.empty()) parsed[kDiffHashMismatch] = true;
  }

  refresh_process_section(parsed, repo_root, target);
  std::vector<std::string> slugs = services::shared::extract_change_spec_slugs(parsed);

  // A commit the ledger already holds keeps one line (the ledger writer's
  // rule): a filing killed after its ledger line but before the pending
  // file was removed leaves that file to be filed again on the next capture.
  try {
    _log_attestation(log_path, attestations_dir, parsed,
                     {.commit_override = target, .checkout = checkout, .replace_existing = options.replace_existing});
  } catch (const core::OSError& e) {
    logger.warning("Could not archive attestation: %s", {e.what()});
    return {.found = true, .error = e.what(), .change_spec_slugs = std::move(slugs)};
  }
  if (const int error = core::remove_file(pending); error != 0 && error != ENOENT) {
    logger.warning("Could not remove the filed attestation %s", {pending.string()});
  }
  return {.found = true,
          .matched_commit = target,
          .mismatched = core::is_set(parsed, kDiffHashMismatch),
          .change_spec_slugs = std::move(slugs)};
}

std::string _staged_diff_hash_of(const Json& attestation) {
  return core::is_set(attestation, "staged_diff_hash") ? core::get_text(attestation, "staged_diff_hash")
                                                       : core::get_text(attestation, "diff_hash");
}

std::optional<std::string> _find_commit_by_diff_hash(const path& work_tree, const std::string& diff_hash,
                                                     int max_commits) {
  // An empty staged change describes no commit, least of all an empty one.
  if (diff_hash.empty() || diff_hash == services::shared::patch_hash("")) return std::nullopt;
  const core::ProcessResult log = core::run_git({"log", "-" + std::to_string(max_commits), "--format=%H"}, work_tree);
  if (!log.ok()) return std::nullopt;
  const std::string hashes = log.out_text();
  for (std::string_view line : core::lines_of(hashes)) {
    const std::string commit(detail::trim(line));
    if (commit.empty()) continue;
    core::ProcessResult patch = core::run_git({"diff-tree", "-p", "-M", "--no-commit-id", commit}, work_tree);
    if (!patch.ok()) continue;
    if (detail::trim(patch.out).empty()) {
      // A root commit: diff-tree shows nothing, so diff against the empty tree.
      patch = core::run_git({"diff", std::string(services::shared::empty_tree_for(commit)), commit}, work_tree);
      if (!patch.ok() || detail::trim(patch.out).empty()) continue;
    }
    if (services::shared::patch_hash(patch.out) == diff_hash) return commit;
  }
  return std::nullopt;
}

void _enrich_attestation(Json& parsed, const Checkout& checkout) {
  try {
    const RulesCacheState state = read_rules_cache_state(paths::platform_dir(checkout.home));
    if (!parsed.contains("rules") || !parsed["rules"].is_object()) parsed["rules"] = Json::object();
    parsed["rules"]["available"] = state.trustworthy() ? Json(*state.count) : Json(nullptr);
  } catch (const std::exception& e) {
    logger.debug("rules.available enrichment skipped", {}, e);
  }

  try {
    if (!core::is_set(parsed, "developer")) {
      if (std::optional<Json> developer = services::shared::detect_git_author(checkout.work_tree))
        parsed["developer"] = *developer;
    }
  } catch (const std::exception& e) {
    logger.debug("Developer identity detection failed", {}, e);
  }

  const agents::Adapter* adapter = nullptr;
  try {
    adapter = agents::detect_active_agent();
  } catch (const std::exception& e) {
    logger.debug("Agent detection failed", {}, e);
    return;
  }
  if (adapter == nullptr) return;

  if (has_text(parsed, "agent")) {
    try {
      parsed["agent"] = agents::normalize_agent_name(core::get_text(parsed, "agent"));
    } catch (const std::exception& e) {
      logger.debug("Agent name normalization failed", {}, e);
    }
  } else if (!adapter->name().empty()) {
    parsed["agent"] = adapter->name();
    if (!adapter->provider().empty() && !has_text(parsed, "agent_provider"))
      parsed["agent_provider"] = adapter->provider();
  }

  if (core::is_set(parsed, "telemetry") && core::is_set(parsed, "agent_session_id")) return;

  try {
    if (!core::is_set(parsed, "agent_session_id")) {
      const std::optional<std::string> session = adapter->get_session_id(checkout.work_tree);
      if (session && !session->empty()) parsed["agent_session_id"] = *session;
    }
  } catch (const std::exception& e) {
    logger.debug("Per-adapter session id lookup failed", {}, e);
  }

  if (!core::is_set(parsed, "telemetry")) {
    const std::optional<Json> telemetry =
        _adapter_telemetry(*adapter, checkout.work_tree, core::get_text(parsed, "agent_session_id"), "adapter_direct");
    if (telemetry && core::is_set(*telemetry)) parsed["telemetry"] = *telemetry;
  }
  if (!core::is_set(parsed, "telemetry")) logger.warning("No telemetry source for %s", {adapter->name()});
}

BackfillResult attach_pending_attestation(const Checkout& checkout, const std::string& commit) {
  const std::optional<std::string> full = _resolve_full_sha(checkout.work_tree, commit);
  if (!full) return not_written(commit, RecordOutcome::no_such_commit);
  const std::optional<std::string> text =
      core::try_read_file(paths::commit_attestation(checkout.work_tree), core::kDocumentFileCap);
  if (!text) return not_written(*full, RecordOutcome::no_pending_attestation);
  // The staged-diff hash names the commit an attestation describes; filing
  // it on another would attach it where it does not belong.
  const std::optional<std::string> described =
      _find_commit_by_diff_hash(checkout.work_tree, _staged_diff_hash_of(_parse_attestation_yaml(*text)));
  if (described && *described != *full) {
    return not_written(*full, RecordOutcome::refused,
                       "the pending attestation describes commit " + *described +
                           " (its staged-diff hash matches that commit's change); attach it there with "
                           "`tamrik attest add --commit " +
                           *described + "`");
  }
  const AttestationResult result =
      process_pending_attestation(checkout, {.commit_override = *full, .replace_existing = true});
  if (result.error) return not_written(*full, RecordOutcome::refused, *result.error);
  return {.commit = result.matched_commit.value_or(*full), .written = true, .attested = true};
}

}  // namespace tamrik::synccore
