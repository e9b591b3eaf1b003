#pragma once
// The result of every commit-recording operation, and the one place an
// agent adapter's telemetry becomes the map that rides on a record.

#include "core/json.hpp"
#include "host/agents/registry.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::synccore {

// Why a recording call wrote nothing (`written` when it did). Callers
// decide on this; `reason` is its text for people.
enum class RecordOutcome {
  written,
  already_recorded,        // "already recorded"
  no_such_commit,          // "no such commit in this repo"
  no_pending_attestation,  // "no pending attestation file"
  no_transcript,           // "no agent transcript found for session <id>"
  no_model,                // "transcript for session <id> names no model"
  refused,                 // anything else, with its own text
};

struct BackfillResult {
  std::string commit;       // the full hash when resolved, else the caller's text
  bool written = false;     // this call wrote or filed a record
  std::string reason;       // why nothing was written; "" when written
  bool tokens = false;      // the written record's telemetry carries token counts
  bool attested = false;    // a pending attestation was filed for the commit
  bool mismatched = false;  // ... whose staged diff hash matches no commit
  RecordOutcome outcome = RecordOutcome::written;

  // Written now, or by an earlier trigger: the commit has its record.
  bool recorded() const { return written || outcome == RecordOutcome::already_recorded; }
};

// A result that wrote nothing, with the reason text of `outcome`; `detail`
// is the session id for the transcript outcomes and the whole text for
// `refused`.
BackfillResult not_written(std::string commit, RecordOutcome outcome, const std::string& detail = "");

// The adapter's telemetry for `session_id` as a map, with "source" and
// "agent_runtime" (the adapter's name) set; nullopt when the adapter does
// not know the session or fails (logged at debug level).
std::optional<core::Json> _adapter_telemetry(const agents::Adapter& adapter, const std::filesystem::path& repo_root,
                                             std::string_view session_id, std::string_view source);

}  // namespace tamrik::synccore
