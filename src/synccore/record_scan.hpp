#pragma once
// A quick reading of a ledger line for the views, so a pass over a large
// ledger costs a scan of its bytes instead of a parsed tree per line.
//
// It reads only plain JSON, the form the ledger's writers write: an object
// whose strings hold printable ASCII (the writers escape everything else as
// \u, which it leaves to the full parser), whole numbers of at most 18
// digits, and nothing nested deeper than a few levels. Within that form
// its reading equals the full parser's; on any other line it gives up and
// the caller parses the line whole, so a hostile line costs the slow path,
// never a wrong answer.

#include "synccore/ledger_view.hpp"

#include <string_view>

namespace tamrik::synccore::detail {

// Fills `view` (all but `entry`) as view_of() would from the parsed line,
// or returns false, leaving `view` unspecified, when the line is not in
// the plain form or names a commit the journal holds (whose upload state
// needs the whole line).
bool scan_record(std::string_view line, const SyncedJournal& journal, RecordView& view);

}  // namespace tamrik::synccore::detail
