#pragma once
// Attestation upload: every pending ledger record goes to the platform with
// its archived attestation and change ledger attached, in batches the server
// accepts, each batch marked synced as soon as the server has taken it.

#include "core/json.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::synccore {

using core::Json;
using std::filesystem::path;

// Most records in one upload request.
inline constexpr size_t ATTESTATION_BATCH_SIZE = 100;
// Most serialised bytes of records in one upload request (6 MiB), well under
// the platform's request limit. Measured on the compact JSON that goes on
// the wire, not on a spaced, \u-escaped reference encoding: the limit is
// the server's, and it sees the bytes sent.
inline constexpr size_t ATTESTATION_BATCH_BYTES = 6291456;

struct UploadResult {
  bool ok = true;                    // false only when refused before starting or failed part-way
  int uploaded = 0;                  // inserted, as the server reports, over the batches that succeeded
  int skipped_invalid = 0;           // unaddressable ledger lines plus records with a corrupt archive
  int set_aside = 0;                 // records held back as too large for the platform (synccore/too_large.hpp)
  bool already_synced = false;       // nothing to send
  std::optional<std::string> error;  // why ok is false
};

// Sends every pending record of repo_root's ledger to project `project_id`
// (an integer or text). A record too large for the platform is set aside
// (synccore/too_large.hpp) and the run goes on without it. Any other failed
// request stops the run: batches sent before it stay synced, it and the rest
// stay pending for the next run. Only the client's failures are caught;
// anything else propagates.
UploadResult upload_attestations(std::string_view api_key, std::string_view api_url, const path& repo_root,
                                 const path& attestations_dir, const Json& project_id);

// Splits `entries` into batches (JSON arrays), in order, closing a batch
// before it would exceed `max_count` records or `max_bytes` of serialised
// records. A record larger than `max_bytes` goes alone in its own batch:
// the server may still take it (records over MAX_RECORD_BYTES never reach
// this point).
std::vector<Json> _chunk_attestations(std::vector<Json> entries, size_t max_count = ATTESTATION_BATCH_SIZE,
                                      size_t max_bytes = ATTESTATION_BATCH_BYTES);

}  // namespace tamrik::synccore
