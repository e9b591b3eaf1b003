#pragma once
// Reading the attestation archive: .tamrik/attestations/<commit>.yaml, the
// full document beside each ledger line. It came with the repository like
// the ledger: read confined and capped.

#include "core/json.hpp"

#include <filesystem>
#include <optional>
#include <string_view>

namespace tamrik::synccore {

// The archived attestation in `file`, or nullopt when there is none. An
// empty archive is an empty map; of several documents (the pending file's
// own "---" layout makes two) the first is taken. Throws OSError when it
// cannot be read and YAMLError when any of its documents does not load.
std::optional<core::Json> archived_attestation(const std::filesystem::path& file);

// The archived attestation of `commit` in the repository whose home is
// `home`; nullopt when there is none, when it cannot be read or does not
// load, and for a text that is not a commit hash (it could name another file).
std::optional<core::Json> try_archived_attestation(const std::filesystem::path& home, std::string_view commit);

}  // namespace tamrik::synccore
