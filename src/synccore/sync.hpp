#pragma once
// The sync run: everything `tamrik sync` and the agent tool server's sync
// do for one repository, in order — file the pending attestation, refresh
// the files tamrik ships, repair the repository's integration (best-effort
// self-heal steps), upload unsent records, refresh the context cache.

#include "core/json.hpp"
#include "synccore/context_refresh.hpp"
#include "synccore/diagnostics.hpp"
#include "synccore/pending_filing.hpp"
#include "synccore/upload.hpp"

#include <filesystem>
#include <optional>
#include <string_view>

namespace tamrik::synccore {

using core::Json;
using std::filesystem::path;

// What one sync run did, step by step.
struct SyncReport {
  PendingFiling attestation;
  std::optional<UploadResult> upload;    // none when not signed in or not linked
  std::optional<RefreshResult> refresh;  // likewise
  bool ignore_block_moved = false;       // an earlier setup's .gitignore block went to info/exclude

  // The sync summary: exactly `attestations_uploaded` and `cache_refreshed`.
  Json summary() const;
};

// The sync run, reporting each step. The pending attestation and the
// static files are not guarded: their errors end the run. The four
// self-heal steps are, one by one ("... skipped (best-effort)" at debug
// level). Without a project id or an API key it returns after them.
// Errors the upload raises are not caught.
SyncReport run_sync_detailed(const Checkout& checkout, std::string_view api_key, std::string_view api_url,
                             const Json& project_id);

// The same, as the sync summary.
Json run_sync(const Checkout& checkout, std::string_view api_key, std::string_view api_url, const Json& project_id);

}  // namespace tamrik::synccore
