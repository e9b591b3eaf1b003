#pragma once
// The pending attestation: .tamrik/.commit-attestation.yaml, written by an
// agent before it commits. Processing files it for its commit — enriched
// with the fields an agent must not write itself (developer, session,
// telemetry), matched to the commit whose patch hashes to its
// staged_diff_hash — and removes it. Every failure leaves it in place.

#include "core/json.hpp"
#include "host/services/checkout.hpp"
#include "synccore/recording_result.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::synccore {

using core::Json;
using services::Checkout;
using std::filesystem::path;

struct AttestationResult {
  bool found = false;                          // a pending file existed
  std::optional<std::string> matched_commit;   // the commit it was filed under
  bool mismatched = false;                     // filed there though its hash matches no commit
  std::optional<std::string> error;            // why it could not be read or archived
  std::vector<std::string> change_spec_slugs;  // change specs the attestation names
};

struct PendingOptions {
  std::optional<std::string> commit_override;
  // Upgrade the line already held for the commit instead of appending.
  bool replace_existing = false;
};

// Files the checkout's pending attestation, if any, into its home's
// ledger. Errors other than file-system errors of the archive write
// propagate.
AttestationResult process_pending_attestation(const Checkout& checkout, const PendingOptions& options = {});

// The hash an attestation names for its staged change: `staged_diff_hash`,
// else the older `diff_hash`; "" when it names none.
std::string _staged_diff_hash_of(const Json& attestation);

// The newest of the last `max_commits` commits under the HEAD of
// `work_tree` whose patch hashes to `diff_hash`, or nullopt.
std::optional<std::string> _find_commit_by_diff_hash(const path& work_tree, const std::string& diff_hash,
                                                     int max_commits = 20);

// Fills developer, agent, agent_provider, agent_session_id, telemetry and
// rules.available where the agent left them out. Never throws.
void _enrich_attestation(Json& parsed, const Checkout& checkout);

// Files the pending attestation against `commit`, which is already
// recorded, upgrading its ledger line in place (it goes out again).
BackfillResult attach_pending_attestation(const Checkout& checkout, const std::string& commit);

}  // namespace tamrik::synccore
