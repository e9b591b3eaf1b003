#pragma once
// What the dashboard shows and filters a stored record by, read once when
// the record is stored and kept beside it, so a page never parses records.
// Every text here came from an agent or a person: callers escape it.

#include "core/json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::platform {

// How a record was made, as the client's `event` says it.
enum class RecordKind { attested, unattested, skipped };
const char* kind_name(RecordKind kind);
RecordKind kind_named(std::string_view name);  // the inverse; anything else is attested

// A sum the database gave as a real number, as a count (saturating).
int64_t count_of_sum(double sum);

struct TokenTotals {
  int64_t input = 0;
  int64_t output = 0;
  int64_t cache = 0;  // cache creation and cache reads together
};

struct RecordFacts {
  std::optional<int64_t> made_at;  // the record's timestamp, seconds since the epoch, when it parses
  std::string branch;
  std::string agent;
  std::string model;      // telemetry's, else the attestation's
  std::string developer;  // "name <email>", or whichever of them the record holds
  std::string task_type;
  RecordKind kind = RecordKind::attested;
  std::string summary;  // at most kMaxSummaryBytes, cut on a character boundary
  std::optional<TokenTotals> tokens;
};

inline constexpr size_t kMaxSummaryBytes = 2000;

RecordFacts record_facts(const core::Json& record);

inline constexpr int64_t kWeekSeconds = 7 * 24 * 3600;

// The start (Monday 00:00 UTC) of the week holding `seconds`.
int64_t week_of(int64_t seconds);

}  // namespace tamrik::platform
