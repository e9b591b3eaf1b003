#pragma once
// The repository's commits beside their records: the commits of a revision
// range in git's order, and why a commit has no record, said so that a
// person knows what to do about it.

#include "host/services/checkout.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::synccore {

struct RangeCommit {
  std::string commit;   // full hash
  std::string date;     // committer date, strict ISO 8601
  std::string subject;  // as the repository holds it
};

// The commits `range` names (git's `main..feature`, a branch, a commit), as
// `git log` lists them, at most `limit`; nullopt when git does not accept
// the range (the caller says so). A range that starts with "-" is never
// taken for an option.
std::optional<std::vector<RangeCommit>> commits_in_range(const std::filesystem::path& work_tree, std::string_view range,
                                                         size_t limit);

// Why commit `full` (a full hash git knows) has no record in the ledger
// of `checkout`'s home, and what to do: the repository was never set up,
// the commit is older than the setup, the checkout has no post-commit
// hook, or it was made by another developer or in another clone.
std::string why_not_recorded(const services::Checkout& checkout, const std::string& full);

}  // namespace tamrik::synccore
