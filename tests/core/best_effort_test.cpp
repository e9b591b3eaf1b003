// A best-effort step: whatever it throws is logged at debug level under
// what was given up, and goes no further.

#include "core/best_effort.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "support/debug_lines.hpp"

namespace tamrik::core {
namespace {

TEST(BestEffort, SwallowsAnyFailureAndLogsWhatWasGivenUp) {
  std::vector<std::string> logged;
  const LogSink previous =
      set_log_sink([&](LogLevel, std::string_view, std::string_view message) { logged.emplace_back(message); });
  const testing::DebugLines debug;

  bool ran = false;
  best_effort("Gitignore self-heal skipped", [] { throw OSError("open .gitignore", EACCES); });
  best_effort("Odd step failed", [] { throw 42; });
  best_effort("Nothing wrong", [&] { ran = true; });
  // A sink that throws cannot turn a swallowed failure into a thrown one.
  set_log_sink([](LogLevel, std::string_view, std::string_view) { throw std::runtime_error("sink broke"); });
  EXPECT_NO_THROW(best_effort("Step failed", [] { throw std::runtime_error("boom"); }));

  set_log_sink(previous);
  EXPECT_TRUE(ran);
  EXPECT_EQ(logged,
            (std::vector<std::string>{
                "Gitignore self-heal skipped (best-effort): PermissionError: open .gitignore: Permission denied",
                "Odd step failed (best-effort): UnknownError"}));
}

}  // namespace
}  // namespace tamrik::core
