#include "core/time_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>

namespace tamrik::core {
namespace {

TEST(FormatUtc, SecondsSinceEpochAsZuluText) {
  EXPECT_EQ(format_utc(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(format_utc(1714557600), "2024-05-01T10:00:00Z");
  EXPECT_EQ(format_utc(951782400), "2000-02-29T00:00:00Z");
  EXPECT_EQ(format_utc(-1), "1969-12-31T23:59:59Z");
}

TEST(UtcNowText, IsTheCurrentTimeInTheSameFormat) {
  const std::time_t before = std::time(nullptr);
  const std::string now = utc_now_text();
  const std::time_t after = std::time(nullptr);
  ASSERT_EQ(now.size(), 20u);
  const auto parsed = parse_iso8601(now);
  ASSERT_TRUE(parsed);
  EXPECT_GE(*parsed, static_cast<double>(before));
  EXPECT_LE(*parsed, static_cast<double>(after));
}

TEST(ParseIso8601, ZonesAndOffsets) {
  EXPECT_EQ(parse_iso8601("2024-05-01T10:00:00Z"), 1714557600.0);
  EXPECT_EQ(parse_iso8601("2024-05-01T10:00:00"), 1714557600.0);  // no zone: UTC
  EXPECT_EQ(parse_iso8601("2024-05-01T12:00:00+02:00"), 1714557600.0);
  EXPECT_EQ(parse_iso8601("2024-05-01T05:30:00-04:30"), 1714557600.0);
  EXPECT_EQ(parse_iso8601("2024-05-01T15:45:00+0545"), 1714557600.0);
  EXPECT_EQ(parse_iso8601("2024-05-01 10:00:00Z"), 1714557600.0);
  EXPECT_EQ(parse_iso8601("2024-05-01T10:00Z"), 1714557600.0);
  EXPECT_EQ(parse_iso8601("2024-05-01"), 1714521600.0);  // midnight UTC
}

TEST(ParseIso8601, FractionsOfASecond) {
  const auto value = parse_iso8601("2024-05-01T10:00:00.25Z");
  ASSERT_TRUE(value);
  EXPECT_DOUBLE_EQ(*value, 1714557600.25);
  const auto micro = parse_iso8601("2024-05-01T10:00:00.123456+00:00");
  ASSERT_TRUE(micro);
  EXPECT_NEAR(*micro, 1714557600.123456, 1e-6);
}

TEST(ParseIso8601, LeapDaysAndYearEnds) {
  EXPECT_EQ(parse_iso8601("2000-02-29T00:00:00Z"), 951782400.0);
  EXPECT_TRUE(parse_iso8601("2024-02-29"));
  EXPECT_FALSE(parse_iso8601("2023-02-29"));
  EXPECT_FALSE(parse_iso8601("1900-02-29"));
  EXPECT_EQ(parse_iso8601("1969-12-31T23:59:59Z"), -1.0);
  EXPECT_EQ(parse_iso8601("2023-12-31T23:59:59-00:00"), 1704067199.0);
}

TEST(ParseIso8601, RejectsAnythingElse) {
  for (const char* bad : {"",
                          "2024",
                          "2024-05",
                          "2024-5-01",
                          "2024-13-01",
                          "2024-00-10",
                          "2024-04-31",
                          "2024-05-01T24:00:00Z",
                          "2024-05-01T10:60:00Z",
                          "2024-05-01T10:00:60Z",
                          "2024-05-01T10",
                          "2024-05-01T10:00:00.Z",
                          "2024-05-01T10:00:00+2",
                          "2024-05-01T10:00:00+25:00",
                          "2024-05-01T10:00:00Zjunk",
                          "2024-05-01x",
                          " 2024-05-01",
                          "2024-05-01T",
                          "0000-01-01",
                          "yesterday",
                          "2024-05-01T10:00:00 Z",
                          "+2024-05-01"}) {
    EXPECT_FALSE(parse_iso8601(bad)) << '[' << bad << ']';
  }
}

TEST(ParseIso8601, ReadsBackEveryFormattedTime) {
  for (std::time_t when : {std::time_t{0}, std::time_t{86399}, std::time_t{951782400}, std::time_t{1714557600},
                           std::time_t{4102444799}, std::time_t{-2208988800}}) {
    EXPECT_EQ(parse_iso8601(format_utc(when)), static_cast<double>(when)) << format_utc(when);
  }
}

}  // namespace
}  // namespace tamrik::core
