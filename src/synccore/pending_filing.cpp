#include "synccore/pending_filing.hpp"

#include "core/file_io.hpp"
#include "core/log.hpp"
#include "host/paths.hpp"
#include "synccore/diagnostics.hpp"
#include "synccore/ledger.hpp"

#include <optional>
#include <string>

namespace tamrik::synccore {

PendingFiling _file_committed_attestation(const Checkout& checkout) {
  // Unreadable or missing: processing reports it (or finds nothing) as before.
  const std::optional<std::string> text =
      core::try_read_file(paths::commit_attestation(checkout.work_tree), core::kDocumentFileCap);
  const std::string diff_hash = text ? _staged_diff_hash_of(_parse_attestation_yaml(*text)) : "";
  if (diff_hash.empty()) return {process_pending_attestation(checkout)};
  const std::optional<std::string> commit = _find_commit_by_diff_hash(checkout.work_tree, diff_hash);
  if (!commit) {
    logger.debug("Pending attestation left for the commit of its staged change");
    return {.result = {.found = true}, .waiting = true};
  }
  return {process_pending_attestation(checkout, {.commit_override = *commit})};
}

}  // namespace tamrik::synccore
