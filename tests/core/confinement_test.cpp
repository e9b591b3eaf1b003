// File operations below a confined directory: a link or special file that a
// repository brought is refused or replaced, never followed or waited on,
// and what lies outside stays as it was.

#include "core/confinement.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/line_reader.hpp"
#include "support/test_env.hpp"

namespace tamrik::core {
namespace {

namespace fs = std::filesystem;
using tamrik::testing::read_text;
using tamrik::testing::TempDir;
using tamrik::testing::write_text;

int error_of(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const OSError& error) {
    return error.code();
  }
  return 0;
}

class Confined : public ::testing::Test {
 protected:
  Confined() {
    fs::create_directories(repo_ / ".tamrik");
    confine(repo_ / ".tamrik");
    write_text(outside_ / "canary", "keep\n");
  }
  fs::path in(const std::string& name) const { return repo_ / ".tamrik" / name; }

  TempDir repo_;
  TempDir outside_;
};

TEST_F(Confined, ALinkedFileIsNeitherReadNorAppendedToAndAReplaceSwapsTheLinkItself) {
  fs::create_symlink(outside_ / "canary", in("log.jsonl"));
  EXPECT_EQ(error_of([&] { read_file(in("log.jsonl"), kSmallFileCap); }), ELOOP);
  EXPECT_EQ(error_of([&] { append_line(in("log.jsonl"), "x\n"); }), ELOOP);
  EXPECT_FALSE(path_exists(in("log.jsonl")));

  replace_file_atomically(in("log.jsonl"), "mine\n");
  EXPECT_FALSE(fs::is_symlink(in("log.jsonl")));
  EXPECT_EQ(read_text(in("log.jsonl")), "mine\n");
  EXPECT_EQ(read_text(outside_ / "canary"), "keep\n");
}

TEST_F(Confined, LinkedDirectoriesAreNotEnteredNorIsALinkedConfinedDirectory) {
  fs::create_directory_symlink(outside_.path(), in("attestations"));
  EXPECT_NE(error_of([&] { make_dirs(in("attestations")); }), 0);
  // A link where a directory is wanted: ENOTDIR, as O_DIRECTORY reports it first.
  EXPECT_EQ(error_of([&] { replace_file_atomically(in("attestations") / "a.yaml", "x"); }), ENOTDIR);
  EXPECT_TRUE(list_dir(in("attestations")).empty());
  EXPECT_EQ(remove_file(in("attestations") / "canary"), ENOTDIR);

  TempDir other;
  fs::create_directory_symlink(outside_.path(), other / ".tamrik");
  confine(other / ".tamrik");
  EXPECT_EQ(error_of([&] { append_line(other / ".tamrik" / "canary", "x\n"); }), ENOTDIR);
  EXPECT_NE(error_of([&] { make_dirs(other / ".tamrik" / ".platform"); }), 0);
  EXPECT_FALSE(fs::exists(outside_ / ".platform"));
  EXPECT_EQ(read_text(outside_ / "canary"), "keep\n");
}

TEST_F(Confined, RemovingALinkLeavesItsTarget) {
  fs::create_symlink(outside_ / "canary", in("specs"));
  EXPECT_EQ(remove_file(in("specs")), 0);
  EXPECT_EQ(read_text(outside_ / "canary"), "keep\n");
}

TEST_F(Confined, FifosAreRefusedAtOnceAndTheLockGoesWithout) {
  ASSERT_EQ(::mkfifo(in("log.jsonl").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(in("log.jsonl.lock").c_str(), 0644), 0);
  EXPECT_EQ(error_of([&] { read_file(in("log.jsonl"), kSmallFileCap); }), EINVAL);
  EXPECT_NE(error_of([&] { append_line(in("log.jsonl"), "x\n"); }), 0);
  EXPECT_NE(error_of([&] { LineReader(in("log.jsonl"), 100); }), 0);
  EXPECT_FALSE(locked(in("log.jsonl"), std::chrono::milliseconds(10)).acquired());
}

TEST(ReadFile, AFileOverItsCapIsRefusedWhole) {
  TempDir dir;
  write_text(dir / "big", std::string(1000, 'x'));
  EXPECT_EQ(error_of([&] { read_file(dir / "big", 999); }), EFBIG);
  EXPECT_EQ(read_file(dir / "big", 1000).size(), 1000u);
  EXPECT_EQ(error_of([&] { read_file("/dev/zero", kSmallFileCap); }), EINVAL);
}

TEST(LineReader, PassesOverALineLongerThanItsCapWithoutHoldingIt) {
  TempDir dir;
  const std::string long_line(300'000, 'y');
  write_text(dir / "lines", "one\n" + long_line + "\n\nlast");
  LineReader reader(dir / "lines", 1000);
  std::vector<std::string> seen;
  LineReader::Line line;
  while (reader.next(line)) {
    seen.push_back(line.too_long ? "<" + std::to_string(line.offset) + "+" + std::to_string(line.length) + ">"
                                 : std::string(line.text));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"one", "<4+300000>", "", "last"}));
}

}  // namespace
}  // namespace tamrik::core
