#pragma once
// Charts drawn on the server as inline SVG: no script, no style attribute
// (colours are presentation attributes, which the page's
// Content-Security-Policy allows). Labels and series names are escaped.

#include <string>
#include <vector>

namespace tamrik::platform::svg {

struct Series {
  std::string name;
  std::vector<double> values;  // one per label
};

// Bars per label, the series stacked in order, with a legend.
std::string stacked_bars(const std::string& title, const std::vector<std::string>& labels,
                         const std::vector<Series>& series);

// One line of shares (0 to 1) per label, on an axis of 0 to 100 %.
std::string share_line(const std::string& title, const std::vector<std::string>& labels,
                       const std::vector<double>& shares);

// 1234567 as "1.2M", 5300 as "5.3k".
std::string short_number(double value);

}  // namespace tamrik::platform::svg
