// Streaming transcripts line by line while they are being written.

#include "host/agents/jsonl_reader.hpp"

#include "support/test_env.hpp"

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace tamrik::agents {
namespace {

using testing::TempDir;
using testing::write_text;

std::vector<std::string> lines_of(const std::filesystem::path& file, bool* opened = nullptr) {
  std::vector<std::string> lines;
  std::vector<char> buffer;
  const bool ok = for_each_jsonl_line(file, buffer, [&](std::string_view line) { lines.emplace_back(line); });
  if (opened != nullptr) *opened = ok;
  return lines;
}

TEST(JsonlReader, HandsOverWholeLinesOnlyAtEveryTruncation) {
  // Written while we read: wherever the writer is, we see exactly the lines
  // that are complete, never a torn one.
  TempDir dir;
  const std::string text = "{\"a\":1}\n{\"b\":\"two\"}\n\n{\"c\":[3]}\n";
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    write_text(dir / "t.jsonl", text.substr(0, cut));
    std::vector<std::string> expected;
    std::size_t start = 0;
    for (std::size_t nl = text.find('\n'); nl != std::string::npos && nl < cut; nl = text.find('\n', start)) {
      expected.push_back(text.substr(start, nl - start));
      start = nl + 1;
    }
    EXPECT_EQ(lines_of(dir / "t.jsonl"), expected) << "cut at " << cut;
  }
}

TEST(JsonlReader, LinesLargerThanABlockArriveWhole) {
  TempDir dir;
  const std::string big(3u << 20, 'x');  // spans several reads
  write_text(dir / "t.jsonl", "first\n" + big + "\nlast\n");
  const auto lines = lines_of(dir / "t.jsonl");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].size(), big.size());
  EXPECT_EQ(lines[2], "last");
}

TEST(JsonlReader, SkipsLinesAboveTheLimitWithoutHoldingThem) {
  TempDir dir;
  write_text(dir / "t.jsonl", "a\n" + std::string(5000, 'y') + "\nb\n" + std::string(4096, 'z') + "\nc\n");
  std::vector<char> buffer;
  JsonlReader reader(buffer, 1024);
  ASSERT_TRUE(reader.open(dir / "t.jsonl"));
  std::string seen;
  while (auto block = reader.next_block()) seen += *block;
  EXPECT_EQ(seen, "a\nb\nc\n");
  EXPECT_LE(buffer.size(), 1024u);
}

TEST(JsonlReader, AnythingButARegularFileIsNotOpened) {
  TempDir dir;
  bool opened = true;
  EXPECT_TRUE(lines_of(dir / "missing.jsonl", &opened).empty());
  EXPECT_FALSE(opened);

  std::filesystem::create_directory(dir / "dir.jsonl");
  EXPECT_TRUE(lines_of(dir / "dir.jsonl", &opened).empty());
  EXPECT_FALSE(opened);

  // A FIFO with no writer would block a plain open forever.
  ASSERT_EQ(::mkfifo((dir / "fifo.jsonl").c_str(), 0600), 0);
  EXPECT_TRUE(lines_of(dir / "fifo.jsonl", &opened).empty());
  EXPECT_FALSE(opened);

  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling.jsonl");
  EXPECT_TRUE(lines_of(dir / "dangling.jsonl", &opened).empty());
  EXPECT_FALSE(opened);

  write_text(dir / "empty.jsonl", "");
  EXPECT_TRUE(lines_of(dir / "empty.jsonl", &opened).empty());
  EXPECT_TRUE(opened);
}

}  // namespace
}  // namespace tamrik::agents
