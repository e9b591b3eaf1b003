#include "platform/like_pattern.hpp"

namespace tamrik::platform {

std::optional<std::string> part_pattern(const std::optional<std::string>& part) {
  if (!part) return std::nullopt;
  std::string pattern = "%";
  for (const char c : *part) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

}  // namespace tamrik::platform
