#pragma once
// Rewritten history: `git commit --amend`, a rebase (with its squashes and
// fixups) and `git cherry-pick` make new commits out of recorded ones. The
// new commit's record carries what the records it was made from hold:
//
// - their attestations: the first (in history order) becomes the new
//   commit's archived document, and when there are several the archive also
//   lists all of them, in history order, under `attestations`;
// - without any attestation, the agent a record names;
// - the commits it was made from: `rewritten_from` for an amend or a rebase,
//   whose old commits leave the history (their records stay, marked with
//   `rewritten_to`: the new commit), and `cherry_picked_from` for a
//   cherry-pick, whose original stays in the history and is not marked.
//
// A commit made from commits of which none is recorded keeps its own record
// as it is.

#include "host/services/checkout.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tamrik::synccore {

// A new commit and the commits it was made from, in history order (full
// hashes).
struct MadeFrom {
  std::string commit;
  std::vector<std::string> from;
};

enum class CarryKind { rewrite, cherry_pick };

// Git's list of rewritten commits, as its post-rewrite hook reads it: lines
// "<old> <new> [extra]". Grouped by new commit in the order they first
// appear; lines without two commit hashes, and commits "rewritten" into
// themselves, are left out.
std::vector<MadeFrom> parse_rewritten_list(std::string_view text);

// Carries the records of the commits each new commit was made from to the
// new commit's record, in the ledger of the checkout's home (recording the new commit first when no trigger has),
// and for a rewrite marks the old records. Running it again changes
// nothing. Returns whether any record changed. Throws OSError when the
// ledger or an archive cannot be written.
bool carry_records(const services::Checkout& checkout, const std::vector<MadeFrom>& made, CarryKind kind);

}  // namespace tamrik::synccore
