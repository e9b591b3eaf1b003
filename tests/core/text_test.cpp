#include "core/text.hpp"

#include <gtest/gtest.h>

namespace tamrik::core {
namespace {

using LineViews = std::vector<std::string_view>;

TEST(LinesOf, AFinalLineBreakEndsTheLastLineAndStartsNone) {
  EXPECT_EQ(lines_of(""), LineViews{});
  EXPECT_EQ(lines_of("\n"), LineViews{""});
  EXPECT_EQ(lines_of("a"), LineViews{"a"});
  EXPECT_EQ(lines_of("a\n"), LineViews{"a"});
  EXPECT_EQ(lines_of("a\n\nb"), (LineViews{"a", "", "b"}));
  // Only '\n' separates: a carriage return stays with its line.
  EXPECT_EQ(lines_of("a\r\nb\rc\n\n"), (LineViews{"a\r", "b\rc", ""}));
}

}  // namespace
}  // namespace tamrik::core
