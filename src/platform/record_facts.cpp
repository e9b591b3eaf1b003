#include "platform/record_facts.hpp"

#include "core/time_text.hpp"
#include "core/utf8.hpp"

#include <cmath>
#include <limits>

namespace tamrik::platform {

namespace {

using core::Json;

constexpr int64_t kFirstMonday = 4 * 24 * 3600;  // 1970-01-05; the epoch was a Thursday

// `text` as both databases can hold it: valid UTF-8 (a broken sequence
// becomes U+FFFD) without NUL.
std::string storable(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const core::Utf8Char c = core::decode_utf8_char(text, at);
    if (c.code_point != 0) core::append_utf8(clean, c.code_point);
    at += c.length;
  }
  return clean;
}

// A text member as the database keeps it.
std::string text_of(const Json& object, const char* key) {
  const Json& value = core::member(object, key);
  return value.is_string() ? storable(value.get_ref<const std::string&>()) : "";
}

// A count the telemetry reports; anything that is not one counts nothing.
int64_t count_of(const Json& object, const char* key) {
  const Json& value = core::member(object, key);
  if (value.is_number_unsigned()) {
    const uint64_t count = value.get<uint64_t>();
    return count > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                              : static_cast<int64_t>(count);
  }
  if (value.is_number_integer()) return std::max<int64_t>(0, value.get<int64_t>());
  return 0;
}

int64_t saturating_sum(int64_t a, int64_t b) {
  return a > std::numeric_limits<int64_t>::max() - b ? std::numeric_limits<int64_t>::max() : a + b;
}

std::string developer_of(const Json& record) {
  const Json& developer = core::member(record, "developer");
  if (developer.is_string()) return storable(developer.get_ref<const std::string&>());
  const std::string name = text_of(developer, "git_author_name");
  const std::string email = text_of(developer, "git_author_email");
  if (name.empty() || email.empty()) return name + email;
  return name + " <" + email + ">";
}

RecordKind kind_of(const Json& record) {
  const std::string event = text_of(record, "event");
  if (event == "attestation_skipped") return RecordKind::skipped;
  if (event == "commit_unattested") return RecordKind::unattested;
  return RecordKind::attested;
}

// `text` cut to at most `limit` bytes without splitting a character.
std::string cut(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = 0;
  while (end < text.size()) {
    const size_t next = end + core::decode_utf8_char(text, end).length;
    if (next > limit) break;
    end = next;
  }
  text.resize(end);
  return text;
}

std::optional<int64_t> seconds_of(const std::string& timestamp) {
  const std::optional<double> seconds = core::parse_iso8601(timestamp);
  // Far-off years are not dates anyone committed on; they would only
  // overflow the arithmetic on weeks.
  if (!seconds || !std::isfinite(*seconds) || std::fabs(*seconds) > 1e12) return std::nullopt;
  return static_cast<int64_t>(std::floor(*seconds));
}

}  // namespace

const char* kind_name(RecordKind kind) {
  switch (kind) {
    case RecordKind::attested:
      return "attested";
    case RecordKind::unattested:
      return "unattested";
    case RecordKind::skipped:
      return "skipped";
  }
  return "attested";
}

RecordKind kind_named(std::string_view name) {
  if (name == "skipped") return RecordKind::skipped;
  if (name == "unattested") return RecordKind::unattested;
  return RecordKind::attested;
}

int64_t count_of_sum(double sum) {
  if (!(sum > 0)) return 0;
  if (sum >= 9.2e18) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(sum);
}

RecordFacts record_facts(const Json& record) {
  RecordFacts facts;
  const Json& telemetry = core::member(record, "telemetry");
  const Json& attestation = core::member(record, "attestation");
  facts.made_at = seconds_of(text_of(record, "timestamp"));
  facts.branch = text_of(record, "branch");
  facts.agent = text_of(record, "agent");
  facts.model = text_of(telemetry, "model");
  if (facts.model.empty()) facts.model = text_of(attestation, "agent_model");
  facts.developer = developer_of(record);
  facts.task_type = text_of(attestation, "task_type");
  facts.kind = kind_of(record);
  facts.summary = cut(text_of(record, "summary"), kMaxSummaryBytes);
  const Json& tokens = core::member(telemetry, "tokens");
  if (tokens.is_object()) {
    facts.tokens = TokenTotals{count_of(tokens, "input"), count_of(tokens, "output"),
                               saturating_sum(count_of(tokens, "cache_creation"), count_of(tokens, "cache_read"))};
  }
  return facts;
}

int64_t week_of(int64_t seconds) {
  const int64_t since_monday = seconds - kFirstMonday;
  const int64_t weeks =
      since_monday >= 0 ? since_monday / kWeekSeconds : -((-since_monday + kWeekSeconds - 1) / kWeekSeconds);
  return kFirstMonday + weeks * kWeekSeconds;
}

}  // namespace tamrik::platform
