#include "platform/server_log.hpp"

#include <cstdio>
#include <mutex>

namespace tamrik::platform {

void log_line(std::string_view line) {
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace tamrik::platform
