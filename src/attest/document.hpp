#pragma once
// The attestation document `tamrik attest` builds from its flags, and the
// pending attestation file it is written to.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "synccore/synccore.hpp"

namespace tamrik::attest {

using core::Json;

// The values of the `tamrik attest` flags the document is built from. The
// command has already made sure the three required ones were given; an
// optional flag that is absent or empty is left out of the document.
struct AttestFlags {
  std::string staged_diff_hash;
  std::optional<std::string> timestamp = std::nullopt;
  std::string model;
  std::optional<std::string> agent = std::nullopt;
  std::optional<std::string> provider = std::nullopt;
  std::optional<std::string> agent_id = std::nullopt;
  std::optional<std::string> provenance = std::nullopt;  // JSON
  std::optional<std::string> task_type = std::nullopt;
  std::optional<std::string> rules = std::nullopt;         // JSON
  std::optional<std::string> arch_changes = std::nullopt;  // JSON
  std::string summary;
};

// A flag value the document cannot be built from. what() is the message the
// command reports.
class AttestationInputError : public core::Error {
 public:
  explicit AttestationInputError(const std::string& message) : Error("AttestationInputError", message) {}
};

// The largest pending attestation file `tamrik attest` writes: well under
// what one upload may carry, so the record it becomes, with the change's
// ledger attached, still reaches the platform.
inline constexpr std::size_t MAX_ATTESTATION_BYTES = 1 << 20;

// Decodes and checks the JSON flags, in the order --rules, --arch-changes,
// --provenance, and builds the document with its keys in this order whatever
// the order of the flags: staged_diff_hash, timestamp, agent_model, agent,
// agent_provider, agent_id, provenance, task_type, rules, changes, summary.
//
// - `timestamp` is --timestamp verbatim, or the current UTC time when it is
//   absent or empty.
// - `rules` is the decoded --rules value unchanged, left out when it is not
//   set (null, false, 0, "", [] or {}).
// - `changes` holds the members of the --arch-changes object named in
//   V2_PRIMITIVES, in that order; others are dropped. An --arch-changes value
//   that is not set leaves `changes` out; one naming no known primitive
//   writes it empty.
// - `provenance` is the decoded --provenance object unchanged; its `type`
//   must be one of VALID_PROVENANCE_TYPES.
//
// Throws AttestationInputError on the first flag that fails: JSON that does
// not decode, an --arch-changes value that is set but not an object, a
// --provenance value that is not an object or whose type is not valid; and
// when the pending file would be over MAX_ATTESTATION_BYTES.
Json build_attestation_document(const AttestFlags& flags);

// The pending file's content: "---\n", the document as block-style YAML,
// "---\n".
std::string render_pending_attestation(const Json& document);

// Writes the pending attestation file of the repository whole and
// atomically, creating its directory; returns the file's path. Throws
// OSError.
std::filesystem::path write_pending_attestation(const std::filesystem::path& repo_root, const Json& document);

}  // namespace tamrik::attest
