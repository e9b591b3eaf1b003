#include "core/time_text.hpp"

#include <stdexcept>

namespace tamrik::core {

namespace {

// A left-to-right reader over the text; every step either consumes what it
// expects or leaves the position alone and answers false.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool at_end() const { return pos_ == text_.size(); }

  bool take(char expected) {
    if (at_end() || text_[pos_] != expected) return false;
    ++pos_;
    return true;
  }

  bool take_any_of(std::string_view choices, char& taken) {
    if (at_end() || choices.find(text_[pos_]) == std::string_view::npos) return false;
    taken = text_[pos_++];
    return true;
  }

  // Exactly `count` decimal digits.
  bool take_number(int count, int& value) {
    if (text_.size() - pos_ < static_cast<std::size_t>(count)) return false;
    int result = 0;
    for (int i = 0; i < count; ++i) {
      const char c = text_[pos_ + static_cast<std::size_t>(i)];
      if (c < '0' || c > '9') return false;
      result = result * 10 + (c - '0');
    }
    pos_ += static_cast<std::size_t>(count);
    value = result;
    return true;
  }

  // One or more digits after a decimal point, as a fraction of a second.
  bool take_fraction(double& fraction) {
    double scale = 0.1;
    double result = 0.0;
    const std::size_t start = pos_;
    while (!at_end() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      result += (text_[pos_] - '0') * scale;
      scale /= 10;
      ++pos_;
    }
    fraction = result;
    return pos_ > start;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

struct DateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  double fraction = 0.0;
  int offset_seconds = 0;  // east of UTC
};

bool parse_date(Cursor& in, DateTime& t) {
  return in.take_number(4, t.year) && in.take('-') && in.take_number(2, t.month) && in.take('-') &&
         in.take_number(2, t.day);
}

bool parse_time(Cursor& in, DateTime& t) {
  if (!in.take_number(2, t.hour) || !in.take(':') || !in.take_number(2, t.minute)) return false;
  if (!in.take(':')) return true;
  if (!in.take_number(2, t.second)) return false;
  return !in.take('.') || in.take_fraction(t.fraction);
}

// "Z", "+HH:MM", "-HH:MM", "+HHMM", or nothing at all (UTC).
bool parse_zone(Cursor& in, DateTime& t) {
  if (in.at_end() || in.take('Z')) return true;
  char sign = 0;
  int hours = 0;
  int minutes = 0;
  if (!in.take_any_of("+-", sign) || !in.take_number(2, hours)) return false;
  in.take(':');
  if (!in.take_number(2, minutes) || hours > 23 || minutes > 59) return false;
  t.offset_seconds = (sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  return true;
}

bool in_range(const DateTime& t) {
  return t.year >= 1 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= days_in_month(t.year, t.month) &&
         t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

}  // namespace

std::string format_utc(std::time_t when) {
  std::tm parts{};
  if (gmtime_r(&when, &parts) == nullptr) throw std::out_of_range("time beyond the calendar range");
  char buffer[64];
  const std::size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return std::string(buffer, length);
}

std::string utc_now_text() { return format_utc(std::time(nullptr)); }

std::optional<double> parse_iso8601(std::string_view text) {
  Cursor in(text);
  DateTime t;
  if (!parse_date(in, t)) return std::nullopt;
  char separator = 0;
  if (in.take_any_of("T ", separator)) {
    if (!parse_time(in, t) || !parse_zone(in, t)) return std::nullopt;
  }
  if (!in.at_end() || !in_range(t)) return std::nullopt;

  std::tm parts{};
  parts.tm_year = t.year - 1900;
  parts.tm_mon = t.month - 1;
  parts.tm_mday = t.day;
  parts.tm_hour = t.hour;
  parts.tm_min = t.minute;
  parts.tm_sec = t.second;
  const std::time_t utc = timegm(&parts);
  return static_cast<double>(utc) - t.offset_seconds + t.fraction;
}

}  // namespace tamrik::core
