// The views' quick reading of ledger lines over arbitrary bytes: wherever it
// reads a line, the full parser takes the line too and its view is the same.

#include "core/json.hpp"
#include "scratch.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/record_scan.hpp"

#include <string>

namespace {

namespace synccore = tamrik::synccore;
using tamrik::fuzz::require;

bool same(const synccore::RecordView& a, const synccore::RecordView& b) {
  const auto tokens = [](const std::optional<synccore::TokenCounts>& t) {
    return t ? std::to_string(t->input) + "/" + std::to_string(t->output) + "/" + std::to_string(t->cache) : "-";
  };
  return a.commit == b.commit && a.branch == b.branch && a.timestamp == b.timestamp && a.time == b.time &&
         a.agent == b.agent && a.model == b.model && a.developer == b.developer && a.summary == b.summary &&
         a.kind == b.kind && a.upload == b.upload && tokens(a.tokens) == tokens(b.tokens);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const synccore::detail::SyncedJournal journal =
      synccore::detail::SyncedJournal::read("/nonexistent/tamrik-fuzz/log.jsonl");
  synccore::RecordView scanned;
  for (std::string_view line : synccore::detail::split_lines(tamrik::fuzz::as_text(data, size))) {
    line = synccore::detail::trim(line);
    if (!synccore::detail::scan_record(line, journal, scanned)) continue;
    const std::optional<tamrik::core::Json> entry = tamrik::core::parse_json(line);
    require(entry && entry->is_object(), "the quick reading took a line the parser refuses");
    require(same(scanned, synccore::view_of(*entry, journal)), "the quick reading and the parser disagree");
  }
  return 0;
}
