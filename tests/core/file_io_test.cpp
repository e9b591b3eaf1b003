#include "core/file_io.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/deferred_flush.hpp"
#include "core/errors.hpp"
#include "support/forked_child.hpp"
#include "support/test_env.hpp"

namespace tamrik::core {
namespace {

namespace fs = std::filesystem;
using tamrik::testing::read_text;
using tamrik::testing::run_in_child;
using tamrik::testing::TempDir;
using tamrik::testing::write_text;

unsigned mode_of(const fs::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// Names in `dir` ending in ".tmp": what a failed replace must not leave.
std::vector<std::string> temp_files_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".tmp")) names.push_back(name);
  }
  return names;
}

TEST(ReplaceFileAtomically, CreatesAndOverwritesWithMode600) {
  TempDir dir;
  const fs::path target = dir / "ledger.jsonl";

  replace_file_atomically(target, "first\n");
  EXPECT_EQ(read_text(target), "first\n");
  EXPECT_EQ(mode_of(target), 0600u);

  write_text(target, "old contents\n");
  ASSERT_EQ(chmod(target.c_str(), 0644), 0);
  replace_file_atomically(target, std::string("second\0bytes\n", 13), Durability::no_flush);
  EXPECT_EQ(read_text(target), std::string("second\0bytes\n", 13));
  EXPECT_EQ(mode_of(target), 0600u);

  replace_file_atomically(target, "");
  EXPECT_EQ(read_text(target), "");
  EXPECT_TRUE(temp_files_in(dir.path()).empty());
}

TEST(ReplaceFileAtomically, KeepingTheTargetsModeRefusesAReadOnlyTarget) {
  TempDir dir;
  const fs::path target = dir / "config.yaml";
  replace_file_atomically(target, "new\n", Durability::no_flush, ReplacedMode::keep_target);
  EXPECT_EQ(mode_of(target), 0600u);

  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  replace_file_atomically(target, "second\n", Durability::no_flush, ReplacedMode::keep_target);
  EXPECT_EQ(read_text(target), "second\n");
  EXPECT_EQ(mode_of(target), 0640u);

  // Read-only even for root, who may write anything: the owner may not.
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  try {
    replace_file_atomically(target, "third\n", Durability::no_flush, ReplacedMode::keep_target);
    FAIL() << "expected OSError";
  } catch (const OSError& e) {
    EXPECT_EQ(e.code(), EACCES);
  }
  EXPECT_EQ(read_text(target), "second\n");
  EXPECT_EQ(mode_of(target), 0444u);
  EXPECT_TRUE(temp_files_in(dir.path()).empty());
}

TEST(ReplaceFileAtomically, FailedWriteLeavesTargetUnchangedAndNoTempFile) {
  TempDir dir;
  const fs::path target = dir / "ledger.jsonl";
  const std::string original(4096, 'o');
  write_text(target, original);

  // A file size limit makes the temp file's write fail part way (EFBIG).
  const int code = run_in_child([&] {
    const rlimit limit{100, 100};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
    signal(SIGXFSZ, SIG_IGN);
    try {
      replace_file_atomically(target, std::string(1000, 'n'));
    } catch (const OSError& e) {
      return e.code() == EFBIG ? 0 : 1;
    }
    return 2;
  });
  EXPECT_EQ(code, 0) << "0: OSError EFBIG, 1: another error, 2: no error";
  EXPECT_EQ(read_text(target), original);
  EXPECT_TRUE(temp_files_in(dir.path()).empty());
}

TEST(ReplaceFileAtomically, FailedRenameLeavesTargetUnchangedAndNoTempFile) {
  TempDir dir;
  const fs::path target = dir / "ledger.jsonl";
  // A non-empty directory cannot be renamed over.
  write_text(target / "inside", "kept\n");

  try {
    replace_file_atomically(target, "new\n");
    FAIL() << "expected OSError";
  } catch (const OSError& e) {
    EXPECT_EQ(e.code(), EISDIR);
    EXPECT_NE(std::string(e.what()).find("rename"), std::string::npos) << e.what();
  }
  EXPECT_EQ(read_text(target / "inside"), "kept\n");
  EXPECT_TRUE(temp_files_in(dir.path()).empty());
}

TEST(ReplaceFileAtomically, MissingDirectoryIsFileNotFound) {
  TempDir dir;
  try {
    replace_file_atomically(dir / "missing" / "file", "x");
    FAIL() << "expected OSError";
  } catch (const OSError& e) {
    EXPECT_EQ(e.class_name(), "FileNotFoundError");
  }
}

TEST(AppendLine, CreatesAMissingFile) {
  TempDir dir;
  const fs::path file = dir / "log.jsonl";
  append_line(file, "{\"n\": 1}\n");
  append_line(file, "{\"n\": 2}\n");
  EXPECT_EQ(read_text(file), "{\"n\": 1}\n{\"n\": 2}\n");
}

TEST(AppendLine, WritesTheMissingLineBreakFirst) {
  TempDir dir;
  const fs::path file = dir / "log.jsonl";
  write_text(file, "{\"n\": 1}\n{\"n\": 2, \"to");  // an append torn by a crash
  append_line(file, "{\"n\": 3}\n");
  EXPECT_EQ(read_text(file), "{\"n\": 1}\n{\"n\": 2, \"to\n{\"n\": 3}\n");

  const fs::path empty = dir / "empty.jsonl";
  write_text(empty, "");
  append_line(empty, "{\"n\": 1}\n");
  EXPECT_EQ(read_text(empty), "{\"n\": 1}\n");
}

// A hook's writes are whole for readers before it returns; the flushes it
// asked for are made by the child hand_over() starts, and all succeed (a
// descriptor closed too early would fail them). Nothing kept, no child.
TEST(DeferredFlushes, WritesAreWholeAtOnceAndFlushedByTheChild) {
  const TempDir dir;
  pid_t child = 0;
  {
    DeferredFlushes flushes;
    append_line(dir.path() / "log", "one\n", Durability::flush);
    replace_file_atomically(dir.path() / "doc", "two");
    EXPECT_EQ(read_text(dir.path() / "log"), "one\n");
    EXPECT_EQ(read_text(dir.path() / "doc"), "two");
    child = flushes.hand_over();
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  DeferredFlushes nothing_kept;
  EXPECT_EQ(nothing_kept.hand_over(), 0);
  // Once handed over, flushes are made at once again: a second deferral may begin.
  DeferredFlushes again;
  EXPECT_THROW(DeferredFlushes(), std::logic_error);
}

TEST(ReadFile, ReadsEveryByte) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 300'000; ++i) bytes += static_cast<char>(i % 256);
  write_text(dir / "data", bytes);
  EXPECT_EQ(read_file(dir / "data", kSmallFileCap), bytes);
  EXPECT_EQ(try_read_file(dir / "data", kSmallFileCap), bytes);

  write_text(dir / "empty", "");
  EXPECT_EQ(read_file(dir / "empty", kSmallFileCap), "");
}

TEST(ReadFile, SizeIsOnlyAHint) {
  // /proc files report size 0 yet have contents.
  const std::string status = read_file("/proc/self/status", kSmallFileCap);
  EXPECT_NE(status.find("Pid:"), std::string::npos);
}

TEST(ReadFile, MissingFileIsFileNotFound) {
  TempDir dir;
  try {
    read_file(dir / "missing", kSmallFileCap);
    FAIL() << "expected OSError";
  } catch (const OSError& e) {
    EXPECT_EQ(e.class_name(), "FileNotFoundError");
    EXPECT_EQ(e.code(), ENOENT);
    EXPECT_NE(std::string(e.what()).find((dir / "missing").string()), std::string::npos) << e.what();
  }
  EXPECT_EQ(try_read_file(dir / "missing", kSmallFileCap), std::nullopt);
  EXPECT_EQ(try_read_file(dir.path(), kSmallFileCap), std::nullopt);  // a directory
}

TEST(OpenFileIfPresent, OnlyAnAbsentFileIsNoFile) {
  TempDir dir;
  write_text(dir / "f", "x");
  EXPECT_FALSE(open_file_if_present(dir / "missing", O_RDONLY));
  const std::optional<UniqueFd> fd = open_file_if_present(dir / "f", O_RDONLY);
  ASSERT_TRUE(fd);
  EXPECT_GT(fd->get(), STDERR_FILENO);
  EXPECT_THROW(open_file_if_present(dir / "f" / "below", O_RDONLY), OSError);  // ENOTDIR
}

TEST(OpenFile, NeverReturnsAStandardStreamDescriptor) {
  TempDir dir;
  const fs::path file = dir / "log.jsonl";
  write_text(file, "");
  // With 0, 1 and 2 closed, open(2) would hand them out; a stray print to
  // stdout would then land in the ledger.
  const int code = run_in_child([&] {
    close(0);
    close(1);
    close(2);
    const UniqueFd fd = open_file(file, O_RDONLY);
    if (fd.get() <= 2) return 1;
    if ((fcntl(fd.get(), F_GETFD) & FD_CLOEXEC) == 0) return 2;
    append_line(file, "appended\n");
    replace_file_atomically(dir / "replaced", "replaced\n");
    if (write(1, "stray\n", 6) >= 0) return 3;  // nothing of ours sits on fd 1
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(read_text(file), "appended\n");
  EXPECT_EQ(read_text(dir / "replaced"), "replaced\n");
}

TEST(UniqueFd, ClosesOnceAndHandsOver) {
  TempDir dir;
  write_text(dir / "f", "x");
  UniqueFd a = open_file(dir / "f", O_RDONLY);
  const int raw = a.get();
  UniqueFd b = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_EQ(b.get(), raw);
  EXPECT_EQ(b.close(), 0);
  EXPECT_EQ(fcntl(raw, F_GETFD), -1);  // closed
  EXPECT_EQ(b.close(), 0);             // and only once
}

TEST(MakeDirs, CreatesAncestorsAndAcceptsExisting) {
  TempDir dir;
  make_dirs(dir / "a/b/c");
  EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
  make_dirs(dir / "a/b/c");

  write_text(dir / "file", "");
  EXPECT_THROW(make_dirs(dir / "file/sub"), OSError);
}

}  // namespace
}  // namespace tamrik::core
