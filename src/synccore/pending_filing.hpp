#pragma once
// Filing the pending attestation from a sync, which may run at any moment
// between `tamrik attest` and the `git commit` the attestation is for.

#include "synccore/pending.hpp"

namespace tamrik::synccore {

struct PendingFiling {
  AttestationResult result;
  // The pending attestation names a staged change no commit carries yet; it
  // was left for the commit that will.
  bool waiting = false;
};

// Files the pending attestation under the commit whose patch matches its
// staged-diff hash, or, when it names no hash, under HEAD. One whose hash
// matches no recent commit stays pending: it was written for a change not
// committed yet, and filing it now would pin it on the previous commit.
PendingFiling _file_committed_attestation(const Checkout& checkout);

}  // namespace tamrik::synccore
