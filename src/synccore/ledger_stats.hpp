#pragma once
// `tamrik stats`' numbers: the records of the ledger counted per group
// (agent, model, developer, task type or week), in one streamed pass.

#include "synccore/ledger_view.hpp"
#include "synccore/record_filter.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::synccore {

enum class StatsGroup { agent, model, developer, task_type, week };

// The group named as `tamrik stats --by` takes it ("task-type"); nullopt
// for any other name.
std::optional<StatsGroup> stats_group_named(std::string_view name);

struct GroupCounts {
  uint64_t commits = 0;
  uint64_t by_agents = 0;  // RecordView::made_by_agent()
  uint64_t attested = 0;
  TokenCounts tokens;           // of all its records
  TokenCounts attested_tokens;  // of its attested records

  void add(const RecordView& record);
};

struct LedgerStats {
  std::map<std::string, GroupCounts> groups;  // by group name, sorted
  GroupCounts total;
  int corrupt = 0;  // lines that are not records, counted nowhere else
};

// The group a record falls in: its value, or "(none)" when it has none; a
// week is its ISO week of the timestamp's UTC day, "2026-W18".
std::string group_of(const RecordView& record, StatsGroup by);

// Counts the records `filter` lets through. A task type, and a model for
// records whose telemetry names none, come from the attestation archive.
LedgerStats count_ledger(LedgerView& view, StatsGroup by, const RecordFilter& filter);

}  // namespace tamrik::synccore
