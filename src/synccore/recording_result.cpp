#include "synccore/recording_result.hpp"

#include "core/log.hpp"
#include "synccore/diagnostics.hpp"

namespace tamrik::synccore {

BackfillResult not_written(std::string commit, RecordOutcome outcome, const std::string& detail) {
  std::string reason;
  switch (outcome) {
    case RecordOutcome::already_recorded:
      reason = "already recorded";
      break;
    case RecordOutcome::no_such_commit:
      reason = "no such commit in this repo";
      break;
    case RecordOutcome::no_pending_attestation:
      reason = "no pending attestation file";
      break;
    case RecordOutcome::no_transcript:
      reason = "no agent transcript found for session " + detail;
      break;
    case RecordOutcome::no_model:
      reason = "transcript for session " + detail + " names no model";
      break;
    case RecordOutcome::written:  // not a reason: taken as refused
    case RecordOutcome::refused:
      reason = detail;
      outcome = RecordOutcome::refused;
      break;
  }
  return {.commit = std::move(commit), .written = false, .reason = std::move(reason), .outcome = outcome};
}

std::optional<core::Json> _adapter_telemetry(const agents::Adapter& adapter, const std::filesystem::path& repo_root,
                                             std::string_view session_id, std::string_view source) {
  std::optional<agents::SessionTelemetry> telemetry;
  try {
    telemetry = adapter.get_telemetry_for_session(repo_root, session_id);
  } catch (const std::exception& e) {
    logger.debug("Adapter telemetry failed for %s", {session_id}, e);
    return std::nullopt;
  }
  if (!telemetry) return std::nullopt;
  core::Json map = telemetry->to_dict();
  if (!map.is_object()) map = core::Json::object();
  map["source"] = source;
  map["agent_runtime"] = adapter.name();
  return map;
}

}  // namespace tamrik::synccore
