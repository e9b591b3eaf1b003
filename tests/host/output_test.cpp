// Console output: each kind of message on its stream, colour only on a
// terminal that wants it.

#include "host/display/output.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tamrik::display::output {
namespace {

std::string contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  return text;
}

// A pseudo-terminal: what the console writes to its slave side is read
// back from the master side.
class Terminal {
 public:
  Terminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw std::runtime_error("no pty");
    slave_ = std::fopen(::ptsname(master_), "w");
    if (slave_ == nullptr) throw std::runtime_error("no pty slave");
  }
  ~Terminal() {
    std::fclose(slave_);
    ::close(master_);
  }
  std::FILE* stream() const { return slave_; }
  std::string read_back() const {
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
  }

 private:
  int master_ = -1;
  std::FILE* slave_ = nullptr;
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("NO_COLOR");
    ::setenv("TERM", "xterm", 1);
  }
  void TearDown() override { ::unsetenv("NO_COLOR"); }
};

TEST_F(ConsoleTest, MessagesGoToTheirStreamAsPlainTextWhenNotATerminal) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const Console console(out, err);
  console.success("Created x");
  console.error("Diff hash mismatch");
  console.info("  Run it");
  console.warning("careful");
  console.print("plain");
  EXPECT_EQ(contents(out), "Created x\n  Run it\nplain\n");
  EXPECT_EQ(contents(err), "Diff hash mismatch\ncareful\n");
  std::fclose(out);
  std::fclose(err);
}

TEST_F(ConsoleTest, ColoursOnlyATerminalThatAllowsColour) {
  const Terminal terminal;
  const Console console(terminal.stream(), terminal.stream());
  console.success("done");
  EXPECT_EQ(terminal.read_back(), "\x1b[32mdone\x1b[0m\r\n");
  console.print("plain");
  EXPECT_EQ(terminal.read_back(), "plain\r\n");

  ::setenv("NO_COLOR", "1", 1);
  console.error("no colour");
  EXPECT_EQ(terminal.read_back(), "no colour\r\n");
  ::setenv("NO_COLOR", "", 1);
  ::setenv("TERM", "dumb", 1);
  console.warning("dumb terminal");
  EXPECT_EQ(terminal.read_back(), "dumb terminal\r\n");
}

}  // namespace
}  // namespace tamrik::display::output
