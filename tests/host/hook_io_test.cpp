// What hooks read and print: the payload on stdin, read within bounds
// whatever the harness (or a person) hands over, and the harness's own
// JSON shape for context.

#include "host/commands/hook_output.hpp"
#include "host/services/hook_payload.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <thread>

namespace tamrik::services::shared {
namespace {

using namespace std::chrono_literals;

// A pipe carrying `text`, closed after it unless `keep_open`.
class Feed {
 public:
  explicit Feed(const std::string& text, bool keep_open = false) {
    // The reader may stop early; the writer then sees EPIPE, not a signal.
    ::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    read_ = fds[0];
    write_ = fds[1];
    writer_ = std::thread([this, text, keep_open] {
      size_t done = 0;
      while (done < text.size()) {
        const ssize_t n = ::write(write_, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      if (!keep_open) ::close(std::exchange(write_, -1));
    });
  }
  ~Feed() {
    ::close(read_);
    writer_.join();
    if (write_ >= 0) ::close(write_);
  }
  int fd() const { return read_; }

 private:
  int read_ = -1;
  int write_ = -1;
  std::thread writer_;
};

TEST(ReadHookPayload, DecodesAnyJsonValue) {
  EXPECT_EQ(read_hook_payload_from(Feed(R"({"tool_name": "Bash"})").fd()), (core::Json{{"tool_name", "Bash"}}));
  EXPECT_EQ(read_hook_payload_from(Feed("[1]").fd()), core::Json::array({1}));
}

TEST(ReadHookPayload, AnythingElseIsNoPayload) {
  for (const std::string& text : std::vector<std::string>{"", "not json", "{\"a\": 1} trailing", "{\"a\": \"\xff\"}",
                                                          "[1e400]", std::string(100000, '[')}) {
    EXPECT_EQ(read_hook_payload_from(Feed(text).fd()), std::nullopt) << text.substr(0, 20);
  }
}

TEST(ReadHookPayload, StopsAtTheSizeLimit) {
  const std::string big = "{\"x\": \"" + std::string(1 << 20, 'a') + "\"}";
  EXPECT_EQ(read_hook_payload_from(Feed(big).fd(), {.max_bytes = 1 << 20}), std::nullopt);
  EXPECT_TRUE(read_hook_payload_from(Feed(big).fd(), {.max_bytes = 2 << 20}).has_value());
}

TEST(ReadHookPayload, AWriterThatNeverClosesIsGivenUpOn) {
  const Feed held("{\"tool_name\": \"Bash\"}", true);
  EXPECT_EQ(read_hook_payload_from(held.fd(), {.time_limit = 200ms}), std::nullopt);
}

TEST(RenderHookContext, UsesTheHarnessShapeWhereItTakesContext) {
  const auto claude = commands::render_hook_context("Claude Code", "PostToolUse", "attach it");
  ASSERT_TRUE(claude.has_value());
  EXPECT_EQ(claude->dump(),
            R"({"hookSpecificOutput":{"hookEventName":"PostToolUse","additionalContext":"attach it"}})");
  EXPECT_TRUE(commands::render_hook_context("codex", "SessionStart", "summary").has_value());

  EXPECT_EQ(commands::render_hook_context("cursor", "PostToolUse", "x"), std::nullopt);
  EXPECT_EQ(commands::render_hook_context("claude-code", "Stop", "x"), std::nullopt);
  EXPECT_EQ(commands::render_hook_context("claude-code", "PostToolUse", ""), std::nullopt);
}

}  // namespace
}  // namespace tamrik::services::shared
