#pragma once
// Debug lines on for a test's scope. TAMRIK_DEBUG is read once per process,
// so a test turns them on through core rather than through the environment.
// Header-only: only a test that links core includes it.

#include "core/log.hpp"

namespace tamrik::testing {

class DebugLines {
 public:
  DebugLines() { core::set_tamrik_debug(true); }
  ~DebugLines() { core::set_tamrik_debug(false); }
  DebugLines(const DebugLines&) = delete;
  DebugLines& operator=(const DebugLines&) = delete;
};

}  // namespace tamrik::testing
