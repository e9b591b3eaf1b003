#include "platform/record_listing.hpp"

#include "core/text.hpp"
#include "core/time_text.hpp"
#include "platform/html.hpp"

#include <charconv>
#include <cmath>

namespace tamrik::platform {

namespace {

std::optional<std::string> filter(const std::string& value) {
  return value.empty() ? std::nullopt : std::optional<std::string>(value);
}

// Seconds of a date, or a problem to show. As for `tamrik log`, a date
// alone is midnight UTC, at either end.
std::optional<int64_t> date_of(const std::string& value, const char* name, std::string& problem) {
  if (value.empty()) return std::nullopt;
  const std::optional<double> seconds = core::parse_iso8601(value);
  if (!seconds || std::fabs(*seconds) > 1e12) {
    problem = std::string(name) + " is not a date: write 2026-05-01 or 2026-05-01T14:30:00Z";
    return std::nullopt;
  }
  return static_cast<int64_t>(std::floor(*seconds));
}

}  // namespace

ListingForm ListingForm::read(const std::function<std::string(const char*)>& param) {
  const auto value = [&param](const char* name) {
    std::string text = param(name);
    if (text.size() > kMaxFilterLength) text.resize(kMaxFilterLength);
    return text;
  };
  ListingForm form{value("agent"), value("model"), value("developer"), value("task_type"), value("q"),
                   value("since"), value("until"), value("attested"),  std::nullopt};
  const std::string cursor = value("before");
  long long seq = 0;
  const auto [end, error] = std::from_chars(cursor.data(), cursor.data() + cursor.size(), seq);
  if (!cursor.empty() && error == std::errc() && end == cursor.data() + cursor.size() && seq > 0) form.before = seq;
  return form;
}

ListingForm::Parsed ListingForm::parsed() const {
  Parsed result;
  RecordQuery& query = result.query;
  query.agent = filter(agent);
  query.model = filter(model);
  query.developer = filter(developer);
  query.task_type = filter(task_type);
  query.summary = filter(search);
  query.since = date_of(since, "since", result.problem);
  query.until = date_of(until, "until", result.problem);
  if (attested == "yes") query.attested = AttestedFilter::attested;
  if (attested == "no") query.attested = AttestedFilter::unattested;
  query.before = before;
  // One more than a page, to know whether there is a next one.
  query.limit = kRecordsPerPage + 1;
  return result;
}

std::string ListingForm::query_string(std::optional<long long> cursor) const {
  std::string text;
  const auto add = [&text](const char* name, const std::string& value) {
    if (value.empty()) return;
    text += (text.empty() ? "" : "&") + std::string(name) + "=" + core::percent_encoded(value);
  };
  add("agent", agent);
  add("model", model);
  add("developer", developer);
  add("task_type", task_type);
  add("q", search);
  add("since", since);
  add("until", until);
  add("attested", attested);
  if (cursor) add("before", std::to_string(*cursor));
  return text;
}

}  // namespace tamrik::platform
