#include "host/agents/env_markers.hpp"

#include <cstdlib>

namespace tamrik::agents {

std::optional<std::string> env_text(const char* name) {
  const char* raw = std::getenv(name);
  if (raw == nullptr) return std::nullopt;
  std::string_view value = raw;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!value.empty() && blank(value.front())) value.remove_prefix(1);
  while (!value.empty() && blank(value.back())) value.remove_suffix(1);
  if (value.empty()) return std::nullopt;
  return std::string(value);
}

bool has_marker(std::span<const EnvMarker> markers, bool strong_only) {
  for (const EnvMarker& marker : markers) {
    if (strong_only && !marker.strong) continue;
    const auto value = env_text(marker.name);
    if (value && (marker.value.empty() || *value == marker.value)) return true;
  }
  return false;
}

}  // namespace tamrik::agents
