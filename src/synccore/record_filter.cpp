#include "synccore/record_filter.hpp"
#include "core/text.hpp"

#include <algorithm>
#include <cctype>

namespace tamrik::synccore {

bool contains_text(std::string_view text, std::string_view part) { return core::contains_ignoring_case(text, part); }

bool RecordFilter::narrows() const {
  return agent || model || developer || task_type || since || until || attested != AttestedFilter::any || pending_only;
}

bool RecordFilter::matches(RecordView& record, const LedgerView& view) const {
  const auto wanted = [](const std::optional<std::string>& part, const std::string& value) {
    return !part || contains_text(value, *part);
  };
  if (!wanted(agent, record.agent) || !wanted(developer, record.developer)) return false;
  if ((since || until) && !record.time) return false;
  if ((since && *record.time < *since) || (until && *record.time > *until)) return false;
  if (attested == AttestedFilter::attested && record.kind != RecordKind::attested) return false;
  if (attested == AttestedFilter::unattested && record.kind == RecordKind::attested) return false;
  if (pending_only && record.upload != UploadState::pending) return false;
  if (task_type || (model && record.model.empty())) view.complete_from_archive(record);
  return wanted(model, record.model) && wanted(task_type, record.task_type);
}

}  // namespace tamrik::synccore
