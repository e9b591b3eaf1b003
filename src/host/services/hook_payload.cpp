#include "host/services/hook_payload.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace tamrik::services::shared {

namespace {

using Clock = std::chrono::steady_clock;

// All bytes up to end of input, or nullopt when the limits are hit or the
// descriptor cannot be read.
std::optional<std::string> read_bounded(int fd, const HookInputLimits& limits) {
  const Clock::time_point deadline = Clock::now() + limits.time_limit;
  std::string text;
  char buffer[64 * 1024];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return text;
    if (text.size() + static_cast<std::size_t>(got) > limits.max_bytes) return std::nullopt;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::optional<std::string> read_hook_input(int fd, const HookInputLimits& limits) {
  try {
    if (::isatty(fd) == 1) return std::nullopt;
    return read_bounded(fd, limits);
  } catch (...) {
    // Out of memory for a huge payload, say: a hook acts on nothing then.
    return std::nullopt;
  }
}

std::optional<core::Json> read_hook_payload_from(int fd, const HookInputLimits& limits) {
  const std::optional<std::string> text = read_hook_input(fd, limits);
  return text ? core::parse_json(*text) : std::nullopt;
}

std::optional<core::Json> read_hook_payload() { return read_hook_payload_from(STDIN_FILENO); }

}  // namespace tamrik::services::shared
