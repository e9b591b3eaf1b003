#pragma once
// `tamrik status [--json]`: what tamrik knows about the current repository.
//
// The JSON form (one object, keys in this order) is stable:
//   repo_root            text: the repository's home (its main working tree),
//                        the same from every worktree
//   set_up               bool: this user ran `tamrik setup` here (the repository is listed)
//   committed_files      list: files under .tamrik the repository's history holds
//   linked               bool; project_id: integer, text or null
//   signed_in            bool; api_url: text or null (the key is never shown)
//   ledger               {pending, uploaded, skipped, unaddressable, corrupt,
//                         attested, unattested, too_large}: counts; too_large
//                         counts pending records the last upload set aside
//                         as too large for the platform
//   rules                {count: integer or null, trustworthy: bool,
//                         description: text}
//   pending_attestation  bool: this checkout's .tamrik/.commit-attestation.yaml waits
//   hooks                {post_commit: bool (fires in this checkout), agents: {<agent>: bool, or null
//                         when tamrik has no hook rows for that harness}}

#include "synccore/synccore.hpp"

namespace tamrik::cli {

// The JSON form above, for `checkout`.
core::Json status_json(const services::Checkout& checkout);

struct StatusOptions {
  bool json = false;
};

int run_status(const StatusOptions& options, const display::output::Console& console);

}  // namespace tamrik::cli
