#pragma once
// Environment variables by which a harness marks the processes it starts.
//
// A strong marker is set only by the harness's own spawn path. A weak one is
// also set elsewhere (an IDE's integrated terminal sets CLAUDECODE), so it
// never attributes a commit: it is only a hint, and only when no harness
// shows a strong marker.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tamrik::agents {

// The value of an environment variable with surrounding blanks removed;
// nullopt when unset or blank.
std::optional<std::string> env_text(const char* name);

struct EnvMarker {
  const char* name;
  std::string_view value;  // "" matches any non-blank value
  bool strong;
};

// Whether any of `markers` is present (only the strong ones when
// `strong_only` is set).
bool has_marker(std::span<const EnvMarker> markers, bool strong_only);

}  // namespace tamrik::agents
