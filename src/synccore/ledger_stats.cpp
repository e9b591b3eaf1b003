#include "synccore/ledger_stats.hpp"

#include <ctime>

namespace tamrik::synccore {

namespace {

constexpr std::string_view kNoValue = "(none)";

std::string iso_week(double seconds) {
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm day{};
  if (gmtime_r(&when, &day) == nullptr) return std::string(kNoValue);
  char text[16];
  if (std::strftime(text, sizeof text, "%G-W%V", &day) == 0) return std::string(kNoValue);
  return text;
}

std::string or_none(const std::string& value) { return value.empty() ? std::string(kNoValue) : value; }

}  // namespace

std::optional<StatsGroup> stats_group_named(std::string_view name) {
  if (name == "agent") return StatsGroup::agent;
  if (name == "model") return StatsGroup::model;
  if (name == "developer") return StatsGroup::developer;
  if (name == "task-type") return StatsGroup::task_type;
  if (name == "week") return StatsGroup::week;
  return std::nullopt;
}

void GroupCounts::add(const RecordView& record) {
  const bool is_attested = record.kind == RecordKind::attested;
  ++commits;
  by_agents += record.made_by_agent() ? 1 : 0;
  attested += is_attested ? 1 : 0;
  if (!record.tokens) return;
  tokens += *record.tokens;
  if (is_attested) attested_tokens += *record.tokens;
}

std::string group_of(const RecordView& record, StatsGroup by) {
  switch (by) {
    case StatsGroup::agent:
      return or_none(record.agent);
    case StatsGroup::model:
      return or_none(record.model);
    case StatsGroup::developer:
      return or_none(record.developer);
    case StatsGroup::task_type:
      return or_none(record.task_type);
    case StatsGroup::week:
      return record.time ? iso_week(*record.time) : std::string(kNoValue);
  }
  return std::string(kNoValue);
}

LedgerStats count_ledger(LedgerView& view, StatsGroup by, const RecordFilter& filter) {
  LedgerStats stats;
  view.in_file_order([&](RecordView& record) {
    if (!filter.matches(record, view)) return;
    if (by == StatsGroup::task_type || (by == StatsGroup::model && record.model.empty())) {
      view.complete_from_archive(record);
    }
    stats.groups[group_of(record, by)].add(record);
    stats.total.add(record);
  });
  stats.corrupt = view.corrupt();
  return stats;
}

}  // namespace tamrik::synccore
