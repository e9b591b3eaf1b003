#pragma once
// What one client may take of the server: time to send a request, and
// connections held open at once.

#include <chrono>
#include <cstddef>

namespace tamrik::platform {

struct ConnectionLimits {
  // The request line and headers must arrive within this time of their
  // first byte.
  std::chrono::seconds header_time{5};
  // A body must arrive at this many bytes per second on average, counted
  // from the end of the headers after a grace of header_time.
  size_t body_min_rate = 16 * 1024;
  // Connections served at once; each has a worker thread of its own.
  size_t max_connections = 128;
  // Connections one client address may hold open at once.
  size_t per_client = 16;
};

}  // namespace tamrik::platform
