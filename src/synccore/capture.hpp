#pragma once
// Commit capture: the one operation behind every trigger that notices a
// commit (post-commit hook, agent post-tool hook, session-start catch-up),
// so each commit gets exactly one record whoever sees it first; and
// backfill of a past agent-session commit.

#include "host/services/checkout.hpp"
#include "synccore/ledger.hpp"
#include "synccore/recording_result.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace tamrik::synccore {

using services::Checkout;
using std::filesystem::path;

struct CaptureOptions {
  std::optional<std::string> session_id;  // the session that made the commit, when known
  std::optional<std::string> agent;       // the adapter to ask first
  std::string source = "harness";         // trigger label, stored on the record
  std::string event{event_for_reason("unattested")};
  bool consume_pending = true;  // may file a waiting pending attestation
  // Whether the harness and person around this process made the commit
  // (true at commit time; false for commits walked from history).
  bool attribute_ambient = true;
};

// Records `sha` (any revision git accepts in the checkout) once, in the
// ledger of the checkout's home. Never throws: failures come back as a
// reason.
BackfillResult capture_commit(const Checkout& checkout, const std::string& sha, const CaptureOptions& options = {});

// The post-commit capture of HEAD; then, since another process committing
// in this checkout may have moved HEAD on before the hook ran, the commits
// under HEAD that no trigger recorded (see catch_up_below). Never throws.
BackfillResult capture_head_at_commit(const Checkout& checkout,
                                      const std::string& event = std::string(event_for_reason("unattested")));

// The post-commit entry: capture_head_at_commit's full hash when HEAD is
// recorded (now or before), else nullopt. Never throws.
std::optional<std::string> record_commit(const Checkout& checkout,
                                         const std::string& event = std::string(event_for_reason("unattested")));

struct BackfillRequest {
  std::string commit;
  std::string session_id;
  std::string task_type;  // the caller's classification
};

// Records a past commit of a known agent session, refusing sessions no
// adapter knows and transcripts that name no model.
BackfillResult record_backfill(const Checkout& checkout, const BackfillRequest& request);

}  // namespace tamrik::synccore
