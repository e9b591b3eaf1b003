// Reading a file's lines last to first: the same lines, offsets and
// over-long verdicts a forward read gives, in the opposite order, whatever
// the file ends with and wherever its lines cross the read blocks.

#include "core/reverse_line_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "support/test_env.hpp"

namespace tamrik::core {
namespace {

using tamrik::testing::TempDir;
using tamrik::testing::write_text;

std::string shown(const LineReader::Line& line) {
  const std::string where = "@" + std::to_string(line.offset) + "+" + std::to_string(line.length);
  return line.too_long ? "<too long>" + where : std::string(line.text) + where;
}

std::vector<std::string> forward(const std::filesystem::path& file, size_t cap) {
  LineReader reader(file, cap);
  std::vector<std::string> seen;
  LineReader::Line line;
  while (reader.next(line)) seen.push_back(shown(line));
  std::reverse(seen.begin(), seen.end());
  return seen;
}

std::vector<std::string> backward(const std::filesystem::path& file, size_t cap) {
  ReverseLineReader reader(file, cap);
  std::vector<std::string> seen;
  LineReader::Line line;
  while (reader.previous(line)) seen.push_back(shown(line));
  return seen;
}

TEST(ReverseLineReader, GivesTheForwardReadsLinesLastFirst) {
  TempDir dir;
  std::string many;
  for (int n = 0; n < 5000; ++n) many += "line " + std::to_string(n) + std::string(n % 90, 'x') + "\n";
  const std::string huge(200'000, 'y');
  const std::vector<std::string> contents{
      "",
      "\n",
      "\n\n",
      "one",
      "one\n",
      "one\ntwo",
      "\none\n\ntwo\n\n",
      many,
      many + "unterminated",
      huge,                                  // one over-long line, alone
      "first\n" + huge + "\n\nlast",         // passed over in the middle
      huge + "\n" + many.substr(0, 70'000),  // ...and at the start, behind a block of short ones
      std::string(1000, 'z') + "\n" + huge,  // exactly at the cap, then over it at the end
  };
  for (size_t i = 0; i < contents.size(); ++i) {
    write_text(dir / "lines", contents[i]);
    EXPECT_EQ(backward(dir / "lines", 1000), forward(dir / "lines", 1000)) << "content #" << i;
  }
}

TEST(ReverseLineReader, RefusesWhatIsNotARegularFile) {
  EXPECT_THROW(ReverseLineReader("/dev/zero", 100), OSError);
  EXPECT_THROW(ReverseLineReader("/nonexistent/tamrik/lines", 100), OSError);
}

}  // namespace
}  // namespace tamrik::core
