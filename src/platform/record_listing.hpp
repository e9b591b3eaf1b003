#pragma once
// The project page's filters as a person types them (the options of
// `tamrik log`, and a search in summaries): read from a query string,
// turned into a RecordQuery, and written back into the links of the page.

#include "platform/storage.hpp"

#include <functional>
#include <optional>
#include <string>

namespace tamrik::platform {

// Page sizes: enough to scan, small enough to render at once.
inline constexpr size_t kRecordsPerPage = 50;
inline constexpr size_t kMaxFilterLength = 200;

struct ListingForm {
  std::string agent;
  std::string model;
  std::string developer;
  std::string task_type;
  std::string search;
  std::string since;  // a date as `tamrik log --since` takes it
  std::string until;
  std::string attested;             // "", "yes" or "no"
  std::optional<long long> before;  // the page's cursor

  // The form from a request's parameters (`param` gives "" when absent);
  // values are cut to kMaxFilterLength.
  static ListingForm read(const std::function<std::string(const char*)>& param);

  // The query it asks for, or what is wrong with a value, for the person to fix.
  struct Parsed {
    RecordQuery query;
    std::string problem;
  };
  Parsed parsed() const;

  // "agent=...&model=..." of the filters set, with a cursor when given.
  std::string query_string(std::optional<long long> cursor) const;
};

}  // namespace tamrik::platform
