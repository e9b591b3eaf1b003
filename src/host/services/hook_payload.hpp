#pragma once
// The JSON document an agent harness hands a hook on standard input.
//
// Hooks must never hang the harness or the agent, so the read is bounded in
// size and in time, and a terminal on stdin (a person running the hook by
// hand) is not read at all.

#include "core/json.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace tamrik::services::shared {

struct HookInputLimits {
  // Larger input is not a payload we act on (a Read tool's payload carries
  // the file it read; 16 MiB leaves room for any of those).
  std::size_t max_bytes = std::size_t{16} << 20;
  // The harness writes the payload and closes the pipe at once; a writer
  // that keeps it open without writing is given up on after this long.
  std::chrono::milliseconds time_limit{5'000};
};

// The decoded payload on standard input; any JSON value, which callers check
// for the shape they need. nullopt when stdin is a terminal, closed, empty,
// too large, too slow, or not JSON. Never throws.
std::optional<core::Json> read_hook_payload();

// The same, from any descriptor (tests feed pipes).
std::optional<core::Json> read_hook_payload_from(int fd, const HookInputLimits& limits = {});

// The undecoded text, within the same limits: for a hook that can tell from
// the bytes alone that a payload is not for it, and so skip decoding a large
// one. nullopt when stdin is a terminal or the limits are hit. Never throws.
std::optional<std::string> read_hook_input(int fd, const HookInputLimits& limits = {});

}  // namespace tamrik::services::shared
