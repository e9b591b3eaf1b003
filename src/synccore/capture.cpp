#include "synccore/capture.hpp"

#include "core/best_effort.hpp"
#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/log.hpp"
#include "host/agents/registry.hpp"
#include "host/paths.hpp"
#include "synccore/catch_up.hpp"
#include "synccore/diagnostics.hpp"
#include "synccore/git.hpp"
#include "synccore/ledger.hpp"
#include "synccore/pending.hpp"
#include "synccore/records.hpp"
#include "synccore/rewritten_history.hpp"

namespace tamrik::synccore {

namespace {

struct Attribution {
  const agents::Adapter* adapter = nullptr;
  std::optional<std::string> session_id;
  std::optional<core::Json> telemetry;
};

// Who made the commit, as far as that can be proven: the adapter that
// recognises the given session (the named one asked first), or, at commit
// time, the harness this process runs under by its strong markers. Sessions
// ran in the checkout.
Attribution attribute(const path& work_tree, const CaptureOptions& options) {
  Attribution who;
  const agents::Adapter* named =
      options.agent && !options.agent->empty() ? agents::get_adapter_by_name(*options.agent) : nullptr;
  who.adapter = named;
  if (options.session_id && !options.session_id->empty()) {
    who.session_id = options.session_id;
    std::vector<const agents::Adapter*> candidates;
    if (named != nullptr) candidates.push_back(named);
    for (const agents::Adapter* adapter : agents::iter_adapters()) {
      if (named == nullptr || adapter->name() != named->name()) candidates.push_back(adapter);
    }
    for (const agents::Adapter* candidate : candidates) {
      std::optional<core::Json> telemetry =
          _adapter_telemetry(*candidate, work_tree, *options.session_id, options.source);
      if (telemetry && core::is_set(*telemetry)) {
        who.adapter = candidate;
        who.telemetry = std::move(telemetry);
        break;
      }
    }
    return who;
  }
  if (!options.attribute_ambient) return {};
  try {
    who.adapter = agents::detect_active_agent();
  } catch (const std::exception&) {
    who.adapter = nullptr;
  }
  if (who.adapter == nullptr) {
    // A marker a person's terminal also carries names no one; the record
    // keeps it as a hint for whoever reads it later.
    if (const agents::Adapter* hint = agents::weak_agent_hint()) {
      who.telemetry = core::Json{{"agent_hint", hint->name()}};
    }
    return who;
  }
  try {
    who.session_id = who.adapter->get_session_id(work_tree);
  } catch (const std::exception&) {
    who.session_id = std::nullopt;
  }
  who.telemetry = _adapter_telemetry(*who.adapter, work_tree, who.session_id.value_or(""), options.source);
  return who;
}

// Records the commit `full` once; `branch` is the one checked out now, for
// captures made at commit time.
BackfillResult capture_resolved(const Checkout& checkout, const std::string& full, std::optional<std::string> branch,
                                const CaptureOptions& options, std::optional<CommitFields> fields = std::nullopt) {
  if (_already_recorded(checkout.home, full)) return not_written(full, RecordOutcome::already_recorded);

  if (options.consume_pending && core::path_exists(paths::commit_attestation(checkout.work_tree))) {
    const AttestationResult result = process_pending_attestation(checkout, {.commit_override = full});
    if (result.error && !result.error->empty()) return not_written(full, RecordOutcome::refused, *result.error);
    if (_already_recorded(checkout.home, full)) {
      return {.commit = full, .written = true, .attested = true, .mismatched = result.mismatched};
    }
  }

  const Attribution who = attribute(checkout.work_tree, options);
  // At commit time the committer is the identity that just made the commit;
  // later, the author is the best word on whose commit it was.
  CommitRecordOptions record{
      .source = options.source,
      .telemetry = who.telemetry,
      .archive_ledger = true,
      .branch = std::move(branch),
      .developer_from = options.attribute_ambient ? DeveloperFrom::committer : DeveloperFrom::author,
      .event = options.event,
      .fields = std::move(fields)};
  if (who.adapter != nullptr) {
    record.agent_name = who.adapter->name();
    record.agent_provider = who.adapter->provider();
    record.session_id = who.session_id;
  }
  return _write_commit_record(checkout, full, std::move(record));
}

// A commit made by `git cherry-pick` carries the record of the commit it
// copies. Best-effort: the copy keeps its own record when this fails.
void carry_cherry_picked(const Checkout& checkout, const CommitOnBranch& head) {
  const std::optional<std::string> picked = _cherry_picked_commit(head.git_dir);
  if (!picked || *picked == head.full) return;
  core::best_effort("Carrying the record of cherry-picked " + *picked + " failed", [&] {
    carry_records(checkout, {{.commit = head.full, .from = {*picked}}}, CarryKind::cherry_pick);
  });
}

// Failures of a capture come back as its reason: no trigger may fail.
template <typename Capture>
BackfillResult guarded(const std::string& sha, Capture&& capture) {
  try {
    return capture();
  } catch (const std::exception& e) {
    logger.debug("capture_commit failed for %s (best-effort)", {sha}, e);
    return not_written(sha, RecordOutcome::refused, core::class_name_of(e) + ": " + e.what());
  } catch (...) {
    logger.debug("capture_commit failed for %s (best-effort)", {sha});
    return not_written(sha, RecordOutcome::refused, "Exception: unknown error");
  }
}

}  // namespace

BackfillResult capture_commit(const Checkout& checkout, const std::string& sha, const CaptureOptions& options) {
  return guarded(sha, [&]() -> BackfillResult {
    // At commit time the record also names the branch checked out now; one
    // git child answers both questions.
    if (options.attribute_ambient) {
      std::optional<CommitOnBranch> found = _resolve_full_sha_on_branch(checkout.work_tree, sha);
      if (!found) return not_written(sha, RecordOutcome::no_such_commit);
      return capture_resolved(checkout, found->full, std::move(found->branch), options, std::move(found->fields));
    }
    const std::optional<std::string> full = _resolve_full_sha(checkout.work_tree, sha);
    if (!full) return not_written(sha, RecordOutcome::no_such_commit);
    return capture_resolved(checkout, *full, std::nullopt, options);
  });
}

BackfillResult capture_head_at_commit(const Checkout& checkout, const std::string& event) {
  try {
    const std::optional<CommitOnBranch> head = _resolve_full_sha_on_branch(checkout.work_tree, "HEAD");
    if (!head) return not_written("HEAD", RecordOutcome::no_such_commit);
    const CaptureOptions options{.source = "post_commit", .event = event};
    BackfillResult result = guarded(
        head->full, [&] { return capture_resolved(checkout, head->full, head->branch, options, head->fields); });
    // Another process committing in this checkout may have moved HEAD on
    // before this hook ran, so the commit it fired for can sit below.
    if (result.recorded()) catch_up_below(checkout, head->parents);
    if (result.written) carry_cherry_picked(checkout, *head);
    return result;
  } catch (const std::exception& e) {
    return not_written("HEAD", RecordOutcome::refused, core::class_name_of(e) + ": " + e.what());
  }
}

std::optional<std::string> record_commit(const Checkout& checkout, const std::string& event) {
  const BackfillResult result = capture_head_at_commit(checkout, event);
  if (result.recorded()) return result.commit;
  return std::nullopt;
}

BackfillResult record_backfill(const Checkout& checkout, const BackfillRequest& request) {
  const std::optional<std::string> full = _resolve_full_sha(checkout.work_tree, request.commit);
  if (!full) return not_written(request.commit, RecordOutcome::no_such_commit);
  if (_already_recorded(checkout.home, *full)) return not_written(*full, RecordOutcome::already_recorded);

  const agents::Adapter* recogniser = nullptr;
  std::optional<core::Json> telemetry;
  for (const agents::Adapter* adapter : agents::iter_adapters()) {
    telemetry = _adapter_telemetry(*adapter, checkout.work_tree, request.session_id, "backfill");
    if (telemetry && core::is_set(*telemetry)) {
      recogniser = adapter;
      break;
    }
  }
  if (recogniser == nullptr) {
    return not_written(*full, RecordOutcome::no_transcript, request.session_id);
  }
  if (core::get_text(*telemetry, "model").empty()) {
    return not_written(*full, RecordOutcome::no_model, request.session_id);
  }
  return _write_commit_record(checkout, *full,
                              {.source = "backfill",
                               .agent_name = recogniser->name(),
                               .agent_provider = recogniser->provider(),
                               .session_id = request.session_id,
                               .telemetry = telemetry,
                               .task_type = request.task_type,
                               .archive_ledger = false});
}

}  // namespace tamrik::synccore
