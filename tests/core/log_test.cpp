#include "core/log.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/errors.hpp"
#include "support/debug_lines.hpp"
#include "support/test_env.hpp"

namespace tamrik::core {
namespace {

using tamrik::testing::read_text;
using tamrik::testing::TempDir;

struct Line {
  LogLevel level;
  std::string logger;
  std::string message;
};

// Captures every log line for the life of the test, then restores stderr.
class CapturedLog {
 public:
  CapturedLog() {
    set_log_sink([this](LogLevel level, std::string_view logger, std::string_view message) {
      std::lock_guard lock(mutex_);
      lines_.push_back({level, std::string(logger), std::string(message)});
    });
  }
  ~CapturedLog() { set_log_sink({}); }
  std::vector<Line> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

TEST(TamrikDebugEnabled, AcceptsOnlyTheFourWordsTrimmedInAnyCase) {
  for (const char* on : {"1", "true", "yes", "on", " On ", "TRUE", "\tYes\n", "oN"}) {
    EXPECT_TRUE(debug_switch_on(on)) << '[' << on << ']';
  }
  for (const char* off : {"0", "false", "", "  ", "no", "off", "2", "yes please", "o n"}) {
    EXPECT_FALSE(debug_switch_on(off)) << '[' << off << ']';
  }
}

TEST(TamrikDebugEnabled, ReadsTheVariableOnlyOnce) {
  EXPECT_FALSE(tamrik_debug_enabled());  // the test main unset it
  setenv("TAMRIK_DEBUG", "1", 1);
  EXPECT_FALSE(tamrik_debug_enabled());
  unsetenv("TAMRIK_DEBUG");
  {
    const tamrik::testing::DebugLines on;
    EXPECT_TRUE(tamrik_debug_enabled());
  }
  EXPECT_FALSE(tamrik_debug_enabled());
}

TEST(FormatMessage, FillsPlaceholdersInOrder) {
  EXPECT_EQ(format_message("Corrupt attestation file %s: %s", {"/r/a.yaml", "bad"}),
            "Corrupt attestation file /r/a.yaml: bad");
  EXPECT_EQ(format_message("branch %r not found", {"main"}), "branch 'main' not found");
  EXPECT_EQ(format_message("%s%r", {"a", "b"}), "a'b'");
  EXPECT_EQ(format_message("100%% done, %s", {"ok"}), "100% done, ok");
}

TEST(FormatMessage, MissingValuesRenderEmptyAndStrayPercentsStay) {
  EXPECT_EQ(format_message("%s and %r", {"one"}), "one and ''");
  EXPECT_EQ(format_message("50% off %d", {"unused"}), "50% off %d");
  EXPECT_EQ(format_message("ends with %", {}), "ends with %");
  // A value is never read as a template itself.
  EXPECT_EQ(format_message("%s", {"%s %r %%"}), "%s %r %%");
}

TEST(Logger, WarningsAlwaysDebugOnlyWhenEnabled) {
  const Logger log("synccore");
  {
    CapturedLog captured;
    log.debug("hidden %s", {"x"});
    log.warning("Corrupt attestation file %s: %s", {"a.yaml", "bad"});
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, LogLevel::warning);
    EXPECT_EQ(lines[0].logger, "synccore");
    EXPECT_EQ(lines[0].message, "Corrupt attestation file a.yaml: bad");
  }
  {
    const tamrik::testing::DebugLines on;
    CapturedLog captured;
    log.debug("shown %r", {"x"});
    const auto lines = captured.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, LogLevel::debug);
    EXPECT_EQ(lines[0].message, "shown 'x'");
  }
}

TEST(Logger, DebugWithErrorAppendsClassNameAndMessage) {
  const tamrik::testing::DebugLines on;
  CapturedLog captured;
  Logger("synccore").debug("Gitignore self-heal skipped (best-effort)", {}, OSError("open x", ENOENT));
  const auto lines = captured.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].message,
            "Gitignore self-heal skipped (best-effort): FileNotFoundError: open x: No such file or directory");
}

TEST(Logger, WritesOneLineToStderrWithoutASink) {
  TempDir dir;
  const auto file = dir / "stderr.txt";
  const int saved = dup(STDERR_FILENO);
  ASSERT_GE(saved, 0);
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_GE(dup2(fd, STDERR_FILENO), 0);
  close(fd);

  Logger("attest").warning("could not upload %s", {"3 records"});
  {
    const tamrik::testing::DebugLines on;
    Logger("attest").debug("detail");
  }

  dup2(saved, STDERR_FILENO);
  close(saved);
  EXPECT_EQ(read_text(file), "tamrik.attest: warning: could not upload 3 records\ntamrik.attest: debug: detail\n");
}

TEST(SetLogSink, ReturnsThePreviousSinkAndEmptyRestoresStderr) {
  int first_calls = 0;
  const LogSink first = [&](LogLevel, std::string_view, std::string_view) { ++first_calls; };
  EXPECT_FALSE(set_log_sink(first));  // stderr was in use
  const LogSink previous = set_log_sink({});
  ASSERT_TRUE(previous);
  previous(LogLevel::warning, "x", "y");
  EXPECT_EQ(first_calls, 1);
  EXPECT_FALSE(set_log_sink({}));
}

TEST(SetLogSink, SwappingWhileOtherThreadsLogLosesNoLine) {
  std::atomic<int> delivered{0};
  const LogSink counting = [&](LogLevel, std::string_view, std::string_view) { ++delivered; };
  set_log_sink(counting);
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 2000;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([] {
      const Logger log("race");
      for (int i = 0; i < kLinesEach; ++i) log.warning("line %s", {"x"});
    });
  }
  for (int i = 0; i < 500; ++i) set_log_sink(counting);  // a fresh copy of the same counting sink
  for (auto& writer : writers) writer.join();
  set_log_sink({});
  EXPECT_EQ(delivered.load(), kThreads * kLinesEach);
}

}  // namespace
}  // namespace tamrik::core
