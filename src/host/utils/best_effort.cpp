#include "host/utils/best_effort.hpp"

#include "core/errors.hpp"
#include "core/log.hpp"
#include "host/display/output.hpp"

#include <string>

namespace tamrik::utils::best_effort {

namespace {

const core::Logger logger("best_effort");

void report(std::string_view label, const std::string& class_name, const std::exception* error, bool audible) {
  try {
    if (error != nullptr) {
      logger.debug("%s failed (best-effort)", {label}, *error);
    } else {
      logger.debug("%s failed (best-effort): %s", {label, class_name});
    }
    if (audible) display::output::console().warning(std::string(label) + " failed (" + class_name + ")");
  } catch (...) {
    // Reporting is best-effort too.
  }
}

}  // namespace

void best_effort(std::string_view label, const std::function<void()>& body, BestEffortOptions options) {
  try {
    body();
  } catch (const std::exception& e) {
    report(label, core::class_name_of(e), &e, options.audible);
  } catch (...) {
    report(label, "UnknownError", nullptr, options.audible);
  }
}

}  // namespace tamrik::utils::best_effort
