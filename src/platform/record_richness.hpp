#pragma once
// Which of two uploads of the same commit the platform keeps: the richer
// one, so that a teammate's bare record of a commit never replaces the
// attested record its author uploaded.

#include "core/json.hpp"

namespace tamrik::platform {

// A record's rank: one carrying an attestation outranks every record
// without; among equals in that, a known agent outranks "unknown" or none.
// An upload replaces the stored record of its commit when its rank is at
// least the stored one's (so among equals the later upload wins).
//
// Clients attach the archived document of every commit as `attestation`,
// also of one recorded without any; such a record says so in `event`
// (commit_unattested, attestation_skipped) and does not count as attested.
int record_richness(const core::Json& record);

}  // namespace tamrik::platform
