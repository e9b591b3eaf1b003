#include "core/process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/test_env.hpp"

namespace tamrik::core {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tamrik::testing::TempDir;

// Options built by assignment: g++ 12 warns about designated initializers
// that leave members out.
ProcessOptions in_dir(const fs::path& cwd) {
  ProcessOptions options;
  options.cwd = cwd;
  return options;
}

enum class Group { same, new_group };

ProcessOptions limited(std::chrono::milliseconds timeout, Group group = Group::same) {
  ProcessOptions options;
  options.timeout = timeout;
  options.new_process_group = group == Group::new_group;
  return options;
}

size_t open_descriptor_count() {
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST(RunProcess, ReportsExitCodeAndBothStreams) {
  const ProcessResult r = run_process({"sh", "-c", "printf out; printf err >&2; exit 3"});
  EXPECT_EQ(r.status, ProcessStatus::exited);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.out, "out");
  EXPECT_EQ(r.err, "err");

  EXPECT_TRUE(run_process({"true"}).ok());
}

TEST(RunProcess, PassesArgumentsVerbatimWithoutAShell) {
  const ProcessResult r = run_process({"printf", "%s|", "a b", "$HOME", "'q'", "*", ""});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.out, "a b|$HOME|'q'|*||");
}

TEST(RunProcess, ReportsASignalItDidNotSend) {
  const ProcessResult r = run_process({"sh", "-c", "kill -TERM $$"});
  EXPECT_EQ(r.status, ProcessStatus::signaled);
  EXPECT_EQ(r.signal, SIGTERM);
}

TEST(RunProcess, CouldNotStartIsNotAnExitCode) {
  const ProcessResult missing = run_process({"tamrik-test-no-such-program"});
  EXPECT_EQ(missing.status, ProcessStatus::could_not_start);
  EXPECT_EQ(missing.start_error, ENOENT);
  EXPECT_FALSE(missing.ok());

  EXPECT_EQ(run_process({"/nonexistent/program"}).status, ProcessStatus::could_not_start);
  EXPECT_EQ(run_process({}).status, ProcessStatus::could_not_start);

  TempDir dir;
  const ProcessResult bad_cwd = run_process({"true"}, in_dir(dir.path() / "missing"));
  EXPECT_EQ(bad_cwd.status, ProcessStatus::could_not_start);
  EXPECT_EQ(bad_cwd.start_error, ENOENT);
}

TEST(RunProcess, RunsInTheGivenDirectory) {
  TempDir dir;
  const ProcessResult r = run_process({"pwd", "-P"}, in_dir(dir.path()));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.out, dir.path().string() + "\n");
}

TEST(RunProcess, TimeLimitKillsTheChild) {
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult r = run_process({"sleep", "10"}, limited(200ms));
  EXPECT_EQ(r.status, ProcessStatus::timed_out);
  EXPECT_FALSE(r.ok());
  // Far below the child's own 10 s: it was killed, not waited for.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(RunProcess, TimeLimitHoldsAfterTheChildClosesItsOutput) {
  const ProcessResult r = run_process({"sh", "-c", "exec >&- 2>&-; sleep 10"}, limited(200ms));
  EXPECT_EQ(r.status, ProcessStatus::timed_out);
}

TEST(RunProcess, ALeftoverHoldingTheOutputAtTheLimitIsATimeOut) {
  // The child exits at once (even with 0); what it started keeps stdout open
  // until the limit. The run did not finish: timed out, the child's exit
  // code kept, and in a new group the leftover is killed.
  const ProcessResult r = run_process({"sh", "-c", "sleep 30 & echo $!; exit 4"}, limited(300ms, Group::new_group));
  EXPECT_EQ(r.status, ProcessStatus::timed_out);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_TRUE(tamrik::testing::process_gone_soon(std::stoi(r.out)));
}

TEST(RunProcess, TimeLimitKillsTheWholeNewProcessGroup) {
  const ProcessResult r = run_process({"sh", "-c", "sleep 30 & echo $!; wait"}, limited(300ms, Group::new_group));
  ASSERT_EQ(r.status, ProcessStatus::timed_out);
  const pid_t grandchild = std::stoi(r.out);  // output before the kill is kept
  EXPECT_TRUE(tamrik::testing::process_gone_soon(grandchild));
}

TEST(RunProcess, TimeLimitWithoutANewGroupSparesTheGrandchild) {
  // The contrast that shows the option matters: only the direct child dies.
  const ProcessResult r = run_process({"sh", "-c", "sleep 30 & echo $!; wait"}, limited(300ms));
  ASSERT_EQ(r.status, ProcessStatus::timed_out);
  const pid_t grandchild = std::stoi(r.out);
  EXPECT_EQ(kill(grandchild, 0), 0);
  kill(grandchild, SIGKILL);
}

TEST(RunProcess, ChildThatFillsBothPipesDoesNotHang) {
  // 4 MiB to each stream at once, far beyond a pipe's buffer: reading one
  // pipe to its end before the other would deadlock.
  const ProcessResult r =
      run_process({"sh", "-c", "yes out | head -c 4194304 & yes err | head -c 4194304 >&2; wait"}, limited(60s));
  ASSERT_TRUE(r.ok()) << static_cast<int>(r.status);
  EXPECT_EQ(r.out.size(), 4194304u);
  EXPECT_EQ(r.err.size(), 4194304u);
  EXPECT_EQ(r.out.substr(0, 8), "out\nout\n");
  EXPECT_EQ(r.err.substr(0, 8), "err\nerr\n");
}

TEST(RunProcess, StderrGoesToDevNullWhenNotCaptured) {
  ProcessOptions discard;
  discard.capture_stderr = false;
  const ProcessResult r = run_process({"sh", "-c", "echo shown; echo hidden >&2; readlink /proc/self/fd/2"}, discard);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.out, "shown\n/dev/null\n");
  EXPECT_EQ(r.err, "");
}

TEST(RunProcess, StdinIsDevNullUnlessInherited) {
  EXPECT_EQ(run_process({"readlink", "/proc/self/fd/0"}).out, "/dev/null\n");

  const std::string ours = fs::read_symlink("/proc/self/fd/0").string();
  ProcessOptions inherit;
  inherit.stdin_mode = StdinMode::inherit;
  EXPECT_EQ(run_process({"readlink", "/proc/self/fd/0"}, inherit).out, ours + "\n");
}

TEST(RunProcess, EnvironmentEntriesAreAddedOrReplaced) {
  setenv("TAMRIK_TEST_KEPT", "kept", 1);
  setenv("TAMRIK_TEST_REPLACED", "old", 1);
  ProcessOptions options;
  options.env = {{"TAMRIK_TEST_REPLACED", "new"}, {"TAMRIK_TEST_ADDED", "added"}};

  const ProcessResult r = run_process({"env"}, options);
  ASSERT_TRUE(r.ok());
  const auto lines = testing::lines_of(r.out);
  const auto has = [&](const std::string& line) { return std::count(lines.begin(), lines.end(), line); };
  EXPECT_EQ(has("TAMRIK_TEST_KEPT=kept"), 1);
  EXPECT_EQ(has("TAMRIK_TEST_REPLACED=new"), 1);
  EXPECT_EQ(has("TAMRIK_TEST_REPLACED=old"), 0);
  EXPECT_EQ(has("TAMRIK_TEST_ADDED=added"), 1);

  unsetenv("TAMRIK_TEST_KEPT");
  unsetenv("TAMRIK_TEST_REPLACED");
  // Our own environment is untouched.
  EXPECT_EQ(std::getenv("TAMRIK_TEST_ADDED"), nullptr);
}

TEST(RunProcess, NoDescriptorLeaksIntoTheChildOrStaysOpenInUs) {
  // Even a descriptor someone opened without close-on-exec stays ours.
  const int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 0);
  const size_t before = open_descriptor_count();

  const ProcessResult r = run_process({"ls", "/proc/self/fd"});
  ASSERT_TRUE(r.ok());
  // 0, 1, 2 and the descriptor ls lists the directory with.
  EXPECT_EQ(testing::lines_of(r.out), (std::vector<std::string>{"0", "1", "2", "3"}));

  run_process({"sleep", "10"}, limited(50ms));
  run_process({"tamrik-test-no-such-program"});
  EXPECT_EQ(open_descriptor_count(), before);
  close(stray);
}

TEST(RunProcess, LeavesNoZombie) {
  run_process({"true"});
  run_process({"false"});
  run_process({"sleep", "10"}, limited(50ms));
  run_process({"sh", "-c", "sleep 10 & wait"}, limited(50ms, Group::new_group));
  run_process({"tamrik-test-no-such-program"});
  run_process({"true"}, in_dir("/nonexistent"));

  int status = 0;
  errno = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(RunProcess, OutputIsDecodedWithReplacementCharacters) {
  const ProcessResult r = run_process({"printf", "ok \\377 \\303\\251"});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.out, "ok \xFF \xC3\xA9");
  EXPECT_EQ(r.out_text(), "ok \xEF\xBF\xBD \xC3\xA9");
}

TEST(DecodeUtf8Lossy, KeepsValidText) {
  const std::string text = "plain, \xC3\xA9t\xC3\xA9, \xE2\x82\xAC, \xF0\x9D\x84\x9E";
  EXPECT_EQ(decode_utf8_lossy(text), text);
  EXPECT_EQ(decode_utf8_lossy(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(decode_utf8_lossy(""), "");
}

TEST(DecodeUtf8Lossy, ReplacesEachMaximalInvalidSubpartOnce) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(decode_utf8_lossy("a\xFF"
                              "b"),
            "a" + r + "b");
  // A truncated four-byte sequence is one maximal subpart.
  EXPECT_EQ(decode_utf8_lossy("\xF0\x9F\x98x"), r + "x");
  EXPECT_EQ(decode_utf8_lossy("end\xE2\x82"), "end" + r);
  // Overlong forms and surrogates: no valid prefix, so one per byte.
  EXPECT_EQ(decode_utf8_lossy("\xC0\xAF"), r + r);
  EXPECT_EQ(decode_utf8_lossy("\xE0\x80\xAF"), r + r + r);
  EXPECT_EQ(decode_utf8_lossy("\xED\xA0\x80"), r + r + r);
  // Above U+10FFFF.
  EXPECT_EQ(decode_utf8_lossy("\xF4\x90\x80\x80"), r + r + r + r);
  // A stray continuation byte does not swallow the character after it.
  EXPECT_EQ(decode_utf8_lossy("\x80\xC3\xA9"), r + "\xC3\xA9");
}

}  // namespace
}  // namespace tamrik::core
