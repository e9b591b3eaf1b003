#include "core/best_effort.hpp"

#include "core/log.hpp"

namespace tamrik::core {

void best_effort(std::string_view what, const std::function<void()>& step) {
  static const Logger logger("best_effort");
  try {
    try {
      step();
    } catch (const std::exception& e) {
      logger.debug("%s (best-effort)", {what}, e);
    } catch (...) {
      logger.debug("%s (best-effort): UnknownError", {what});
    }
  } catch (...) {
    // Reporting the failure may fail too (no memory, say); it is dropped.
  }
}

}  // namespace tamrik::core
