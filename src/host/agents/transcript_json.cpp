#include "host/agents/transcript_json.hpp"

#include "core/time_text.hpp"

#include <string.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tamrik::agents {

const Json& member(const Json& obj, std::string_view key) {
  static const Json kNull;
  if (!obj.is_object()) return kNull;
  const auto it = obj.find(key);
  return it == obj.end() ? kNull : *it;
}

long long count_of(const Json& obj, std::string_view key) {
  const Json& value = member(obj, key);
  if (value.is_number_unsigned()) {
    const auto n = value.get<unsigned long long>();
    return n > static_cast<unsigned long long>(std::numeric_limits<long long>::max())
               ? std::numeric_limits<long long>::max()
               : static_cast<long long>(n);
  }
  if (value.is_number_integer()) return std::max(0LL, value.get<long long>());
  if (value.is_number_float()) {
    const double d = value.get<double>();
    return std::isfinite(d) && d > 0 && d < 9.2e18 ? static_cast<long long>(d) : 0;
  }
  return 0;
}

std::optional<double> time_of(const Json& obj, std::string_view key) {
  const Json& value = member(obj, key);
  if (!value.is_string()) return std::nullopt;
  return core::parse_iso8601(value.get_ref<const std::string&>());
}

bool holds(std::string_view line, std::string_view bytes) {
  return ::memmem(line.data(), line.size(), bytes.data(), bytes.size()) != nullptr;
}

}  // namespace tamrik::agents
