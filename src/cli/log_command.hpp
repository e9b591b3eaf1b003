#pragma once
// `tamrik log [REVISION-RANGE] [-n N] [filters] [--json]`: the recorded
// commits, the latest recorded first (the ledger's order: a commit the
// catch-up recorded late comes where it was recorded), one line each, like
// `git log --oneline`. With a
// revision range, exactly the range's commits in git's order, a commit
// without a record shown as such.
//
// --json prints one JSON object per line (as the ledger itself is kept):
// a record as record_json() gives it, or for a commit of the range without
// one {commit, date, subject, recorded: false}.

#include "synccore/synccore.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace tamrik::cli {

struct LogOptions {
  std::string range;
  std::optional<size_t> max_count;  // all when absent
  std::optional<std::string> agent, model, developer, task_type, since, until;
  bool attested = false;
  bool unattested = false;
  bool pending = false;
  bool json = false;

  size_t limit() const { return max_count.value_or(SIZE_MAX); }
  // Throws UsageError for a --since or --until that is not a date.
  synccore::RecordFilter filter() const;
};

int run_log(const LogOptions& options, const display::output::Console& console);

}  // namespace tamrik::cli
