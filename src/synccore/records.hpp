#pragma once
// Commit records: how a commit becomes a ledger line and an archived
// attestation document, and how the ledger of the change a commit sealed
// moves beside that commit's attestation.

#include "core/json.hpp"
#include "host/services/checkout.hpp"
#include "synccore/git_files.hpp"
#include "synccore/recording_result.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace tamrik::synccore {

using core::Json;
using services::Checkout;
using std::filesystem::path;

struct LogAttestationOptions {
  std::optional<std::string> commit_override;  // default: HEAD of the checkout
  // Where git answers for HEAD and the branch, and whose home holds the
  // change ledgers.
  std::optional<Checkout> checkout;
  // False for commits that did not just happen: the live change ledger
  // belongs to the current change, not to a commit from last week.
  bool archive_ledger = true;
  std::optional<std::string> event;  // for a commit that carried no attestation
  // Rewrite the line already held for the commit (an unattested capture
  // upgraded with its attestation) instead of appending a second one.
  bool replace_existing = false;
  // The checked-out branch when the caller has just asked git for it.
  std::optional<std::string> branch;
};

// Archives `parsed` as <commit>.yaml in `attestations_dir` and writes its
// ledger line. Throws OSError when the files cannot be written.
void _log_attestation(const path& log_path, const path& attestations_dir, const Json& parsed,
                      const LogAttestationOptions& options = {});

// Whose name a record gives as its developer's.
enum class DeveloperFrom {
  given,      // CommitRecordOptions::developer, or none
  author,     // the commit's author: a commit recorded after the fact
  committer,  // the commit's committer: at commit time, the identity that just made it
};

struct CommitRecordOptions {
  std::string source;  // trigger name, e.g. "post_commit", "backfill"
  std::string agent_name = "unknown";
  std::optional<std::string> agent_provider;
  std::optional<std::string> session_id;
  std::optional<Json> telemetry;         // gains `session_id` when it has none
  std::optional<std::string> task_type;  // declared by the caller
  bool archive_ledger = true;
  std::optional<std::string> branch;  // only from triggers that fire at the commit
  std::optional<Json> developer;
  DeveloperFrom developer_from = DeveloperFrom::given;
  std::optional<std::string> event;
  std::optional<CommitFields> fields;  // the commit's, when the caller has read them
};

// THE one way a commit without an attestation file becomes a record. The
// caller has checked _already_recorded. Throws OSError when the files
// cannot be written.
BackfillResult _write_commit_record(const Checkout& checkout, const std::string& commit, CommitRecordOptions options);

// Moves the live ledger of the change `parsed` names to
// <commit>.ledger.jsonl beside the attestation. Best-effort: never throws.
void _archive_ledger_segment(const path& repo_root, const path& attestations_dir, const Json& parsed,
                             const std::string& commit);

}  // namespace tamrik::synccore
