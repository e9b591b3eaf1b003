#pragma once
// Which records a person asked to see: by who made them, when, and whether
// they are attested or still wait for an upload. Shared by `tamrik log`
// and `tamrik stats`, so both count the same records.

#include "synccore/ledger_view.hpp"

#include <optional>
#include <string>

namespace tamrik::synccore {

enum class AttestedFilter { any, attested, unattested };

struct RecordFilter {
  // Each matches when it is part of the record's value, case aside
  // (`--agent claude` matches claude-code).
  std::optional<std::string> agent;
  std::optional<std::string> model;
  std::optional<std::string> developer;  // name or email
  std::optional<std::string> task_type;
  // Seconds since the epoch, both ends included. A record whose timestamp
  // does not parse is outside every date range.
  std::optional<double> since;
  std::optional<double> until;
  AttestedFilter attested = AttestedFilter::any;  // unattested includes skipped
  bool pending_only = false;

  // Whether any record could be left out.
  bool narrows() const;

  // Whether `record` is wanted. Reads its archived attestation only when
  // the answer needs it (a task type, or a model the telemetry did not name).
  bool matches(RecordView& record, const LedgerView& view) const;
};

// Whether `part` occurs in `text`, ASCII case aside.
bool contains_text(std::string_view text, std::string_view part);

}  // namespace tamrik::synccore
