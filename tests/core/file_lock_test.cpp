#include "core/file_lock.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/file_io.hpp"
#include "core/log.hpp"
#include "core/process.hpp"
#include "support/debug_lines.hpp"
#include "support/forked_child.hpp"
#include "support/test_env.hpp"

namespace tamrik::core {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tamrik::testing::run_in_child;
using tamrik::testing::start_child;
using tamrik::testing::TempDir;
using tamrik::testing::wait_child;

fs::path lock_file_of(const fs::path& path) { return fs::path(path.string() + ".lock"); }

// Whether a separate process can take the lock right now. It runs flock(1),
// a process of its own, so it shares none of our descriptors or table.
bool other_process_can_lock(const fs::path& path) {
  const ProcessResult r =
      run_process({"flock", "--nonblock", "--conflict-exit-code", "99", lock_file_of(path).string(), "true"});
  if (!r.ok() && r.exit_code != 99) throw std::runtime_error("flock(1) failed: " + r.err);
  return r.ok();
}

// A forked process that holds the lock until released or killed.
class Holder {
 public:
  explicit Holder(const fs::path& path) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe failed");
    pid_ = start_child([&] {
      close(ready[0]);
      close(release[1]);
      const LockGuard guard = locked(path, 5s);
      const char acquired = guard.acquired() ? '1' : '0';
      if (write(ready[1], &acquired, 1) != 1) return 1;
      char byte;
      // Returns (end of file) when the parent closes its end.
      return read(release[0], &byte, 1) < 0 ? 1 : 0;
    });
    close(ready[1]);
    close(release[0]);
    release_fd_ = release[1];
    char acquired = '0';
    const bool told = read(ready[0], &acquired, 1) == 1;
    close(ready[0]);
    if (!told || acquired != '1') throw std::runtime_error("holder did not take the lock");
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  ~Holder() {
    if (pid_ > 0) release();
  }

  pid_t pid() const { return pid_; }

  // Lets the holder leave its locked block and exit; returns its exit code.
  int release() {
    close(release_fd_);
    const int code = wait_child(pid_);
    pid_ = -1;
    return code;
  }

  void kill_now() {
    close(release_fd_);
    kill(pid_, SIGKILL);
    wait_child(pid_);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_fd_ = -1;
};

TEST(Locked, IsReentrantWithinAProcess) {
  TempDir dir;
  const fs::path ledger = dir / "ledger.jsonl";
  const LockGuard outer = locked(ledger);
  ASSERT_TRUE(outer.acquired());
  EXPECT_FALSE(other_process_can_lock(ledger));

  // A zero timeout proves the nested calls do not wait.
  const LockGuard nested = locked(ledger, 0ms);
  EXPECT_TRUE(nested.acquired());
  const LockGuard other_spelling = locked(dir.path() / "sub" / ".." / "ledger.jsonl", 0ms);
  EXPECT_TRUE(other_spelling.acquired());
  bool from_thread = false;
  std::thread([&] { from_thread = locked(ledger, 0ms).acquired(); }).join();
  EXPECT_TRUE(from_thread);
}

TEST(Locked, HeldUntilTheOutermostGuardGoes) {
  TempDir dir;
  const fs::path ledger = dir / "ledger.jsonl";
  {
    const LockGuard outer = locked(ledger);
    {
      const LockGuard inner = locked(ledger);
      LockGuard moved = locked(ledger);
      const LockGuard taken_over(std::move(moved));
    }
    EXPECT_FALSE(other_process_can_lock(ledger));
  }
  EXPECT_TRUE(other_process_can_lock(ledger));
}

TEST(Locked, ReleasedWhenAnExceptionUnwindsTheBlock) {
  TempDir dir;
  const fs::path ledger = dir / "ledger.jsonl";
  try {
    const LockGuard guard = locked(ledger);
    ASSERT_TRUE(guard.acquired());
    ASSERT_FALSE(other_process_can_lock(ledger));
    throw std::runtime_error("write failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(other_process_can_lock(ledger));
}

TEST(Locked, FailsOpenAfterTheTimeoutWhenAnotherProcessHoldsIt) {
  TempDir dir;
  const fs::path ledger = dir / "ledger.jsonl";
  const tamrik::testing::DebugLines debug;
  std::vector<std::string> logged;
  const LogSink previous = set_log_sink([&](LogLevel, std::string_view logger, std::string_view message) {
    logged.push_back(std::string(logger) + ": " + std::string(message));
  });
  Holder holder(ledger);

  const auto start = std::chrono::steady_clock::now();
  {
    const LockGuard guard = locked(ledger, 300ms);
    EXPECT_FALSE(guard.acquired());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    // A nested call shares the outer outcome rather than waiting again.
    EXPECT_FALSE(locked(ledger, 0ms).acquired());
  }
  set_log_sink(previous);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].rfind("filelock: ", 0), 0u) << logged[0];
  EXPECT_NE(logged[0].find("ledger.jsonl.lock"), std::string::npos) << logged[0];

  EXPECT_EQ(holder.release(), 0);
  EXPECT_TRUE(locked(ledger, 0ms).acquired());
}

TEST(Locked, HolderKilledWithSigkillFreesItAtOnce) {
  TempDir dir;
  const fs::path ledger = dir / "ledger.jsonl";
  Holder holder(ledger);
  EXPECT_FALSE(locked(ledger, 0ms).acquired());
  holder.kill_now();
  EXPECT_TRUE(locked(ledger, 0ms).acquired());
}

TEST(Locked, ChildSpawnedWhileHoldingItDoesNotKeepIt) {
  TempDir dir;
  const fs::path ledger = dir / "ledger.jsonl";
  int pid_pipe[2];
  ASSERT_EQ(pipe(pid_pipe), 0);
  // The holder spawns a long-lived child (as it would spawn git) while it
  // holds the lock, then exits without releasing: only the kernel's cleanup
  // of the holder's descriptors can free the lock.
  const pid_t holder = start_child([&] {
    close(pid_pipe[0]);
    const LockGuard guard = locked(ledger);
    if (!guard.acquired()) return 1;
    pid_t sleeper = 0;
    char arg0[] = "sleep";
    char arg1[] = "30";
    char* argv[] = {arg0, arg1, nullptr};
    if (posix_spawnp(&sleeper, "sleep", nullptr, nullptr, argv, environ) != 0) return 2;
    if (write(pid_pipe[1], &sleeper, sizeof sleeper) != static_cast<ssize_t>(sizeof sleeper)) return 3;
    _exit(0);
  });
  close(pid_pipe[1]);
  pid_t sleeper = 0;
  ASSERT_EQ(read(pid_pipe[0], &sleeper, sizeof sleeper), static_cast<ssize_t>(sizeof sleeper));
  close(pid_pipe[0]);
  ASSERT_EQ(wait_child(holder), 0);
  ASSERT_EQ(kill(sleeper, 0), 0) << "the spawned child should still run";

  EXPECT_TRUE(locked(ledger, 0ms).acquired());
  kill(sleeper, SIGKILL);
}

TEST(Locked, LocksASeparateFileThatRenamesDoNotReplace) {
  TempDir dir;
  const fs::path ledger = dir / "ledger.jsonl";
  const LockGuard guard = locked(ledger);
  ASSERT_TRUE(guard.acquired());
  EXPECT_FALSE(fs::exists(ledger));  // the data file itself is never touched

  struct stat before {};
  ASSERT_EQ(stat(lock_file_of(ledger).c_str(), &before), 0);
  replace_file_atomically(ledger, "rewritten\n");
  struct stat after {};
  ASSERT_EQ(stat(lock_file_of(ledger).c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_FALSE(other_process_can_lock(ledger));
}

TEST(Locked, MissingDirectoryFailsOpenWithoutThrowing) {
  TempDir dir;
  const LockGuard guard = locked(dir / "missing" / "ledger.jsonl", 0ms);
  EXPECT_FALSE(guard.acquired());
}

// Appends and whole-file rewrites from many processes at once: every record
// must survive exactly once and intact. The rewrites rename a new file over
// the ledger, so a lock on the ledger itself would lose appends here.
TEST(Locked, ConcurrentAppendsAndRewritesLoseNothing) {
  TempDir dir;
  const fs::path ledger = dir / "ledger.jsonl";
  constexpr int kWriters = 8;
  constexpr int kAppends = 200;
  const std::string padding(250, 'p');
  const auto record = [&](int writer, int seq) {
    return "{\"writer\": " + std::to_string(writer) + ", \"seq\": " + std::to_string(seq) + ", \"pad\": \"" + padding +
           "\"}\n";
  };

  std::vector<pid_t> children;
  children.push_back(start_child([&] {
    for (int i = 0; i < 100; ++i) {
      const LockGuard guard = locked(ledger);
      if (!guard.acquired()) return 1;
      if (const auto bytes = try_read_file(ledger, kDocumentFileCap))
        replace_file_atomically(ledger, *bytes, Durability::no_flush);
    }
    return 0;
  }));
  for (int writer = 0; writer < kWriters; ++writer) {
    children.push_back(start_child([&, writer] {
      for (int seq = 0; seq < kAppends; ++seq) {
        const LockGuard guard = locked(ledger);
        if (!guard.acquired()) return 1;
        append_line(ledger, record(writer, seq));
      }
      return 0;
    }));
  }
  for (const pid_t child : children) EXPECT_EQ(wait_child(child), 0);

  std::map<std::string, int> seen;
  std::istringstream lines(read_file(ledger, kDocumentFileCap));
  for (std::string line; std::getline(lines, line);) ++seen[line + "\n"];
  EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kAppends));
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int seq = 0; seq < kAppends; ++seq) {
      ASSERT_EQ(seen[record(writer, seq)], 1) << "writer " << writer << " seq " << seq;
    }
  }
}

}  // namespace
}  // namespace tamrik::core
