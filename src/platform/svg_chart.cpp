#include "platform/svg_chart.hpp"

#include "platform/html.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tamrik::platform::svg {

namespace {

constexpr double kWidth = 760;
constexpr double kHeight = 280;
constexpr double kLeft = 56;  // room for the axis numbers
constexpr double kRight = 12;
constexpr double kTop = 44;     // room for the legend
constexpr double kBottom = 36;  // room for the labels
constexpr size_t kMostLabels = 12;
constexpr const char* kColours[] = {"#3b6fb6", "#e08a2e", "#4a9b5f", "#c2464b",
                                    "#7f62b3", "#8c6d4f", "#d36fae", "#6b7280"};

std::string fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string percent_text(double share) {
  char text[16];
  std::snprintf(text, sizeof text, "%.0f %%", share * 100);
  return text;
}

const char* colour(size_t index) { return kColours[index % std::size(kColours)]; }

// The top of the axis: the maximum rounded up to 1, 2 or 5 times a power of ten.
double axis_top(double maximum) {
  if (maximum <= 0) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(maximum)));
  for (const double step : {1.0, 2.0, 5.0, 10.0}) {
    if (step * power >= maximum) return step * power;
  }
  return 10 * power;
}

class Drawing {
 public:
  explicit Drawing(const std::string& title) {
    out_ = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" role=\"img\" viewBox=\"0 0 " + fixed(kWidth) +
           " " + fixed(kHeight) + "\"><title>" + html::escaped(title) + "</title>";
  }
  void rect(double x, double y, double w, double h, const char* fill) {
    out_ += "<rect x=\"" + fixed(x) + "\" y=\"" + fixed(y) + "\" width=\"" + fixed(w) + "\" height=\"" + fixed(h) +
            "\" fill=\"" + fill + "\"/>";
  }
  void line(double x1, double y1, double x2, double y2, const char* stroke) {
    out_ += "<line x1=\"" + fixed(x1) + "\" y1=\"" + fixed(y1) + "\" x2=\"" + fixed(x2) + "\" y2=\"" + fixed(y2) +
            "\" stroke=\"" + stroke + "\"/>";
  }
  void text(double x, double y, const std::string& text, const char* anchor = "start") {
    out_ += "<text x=\"" + fixed(x) + "\" y=\"" + fixed(y) + "\" text-anchor=\"" + anchor + "\">" +
            html::escaped(text) + "</text>";
  }
  void markup(const std::string& trusted) { out_ += trusted; }
  std::string finish() { return out_ + "</svg>"; }

 private:
  std::string out_;
};

double plot_height() { return kHeight - kTop - kBottom; }
double y_of(double value, double top) { return kTop + plot_height() * (1 - value / top); }

// Grid lines and their numbers, five steps up to `top`.
void axis(Drawing& drawing, double top, bool percent) {
  for (int step = 0; step <= 5; ++step) {
    const double value = top * step / 5;
    const double y = y_of(value, top);
    drawing.line(kLeft, y, kWidth - kRight, y, "#e3e6ea");
    drawing.text(kLeft - 6, y + 4, percent ? percent_text(value) : short_number(value), "end");
  }
}

// Every label when they fit, else every n-th.
void labels_below(Drawing& drawing, const std::vector<std::string>& labels, double slot) {
  const size_t every = std::max<size_t>(1, (labels.size() + kMostLabels - 1) / kMostLabels);
  for (size_t i = 0; i < labels.size(); i += every) {
    drawing.text(kLeft + slot * (static_cast<double>(i) + 0.5), kHeight - kBottom + 18, labels[i], "middle");
  }
}

void legend(Drawing& drawing, const std::vector<std::string>& names) {
  double x = kLeft;
  for (size_t i = 0; i < names.size(); ++i) {
    drawing.rect(x, 12, 12, 12, colour(i));
    drawing.text(x + 16, 22, names[i]);
    x += 24 + 7.5 * static_cast<double>(std::min<size_t>(names[i].size(), 24));
  }
}

}  // namespace

std::string short_number(double value) {
  char text[32];
  if (value >= 1e9) {
    std::snprintf(text, sizeof text, "%.1fG", value / 1e9);
  } else if (value >= 1e6) {
    std::snprintf(text, sizeof text, "%.1fM", value / 1e6);
  } else if (value >= 1e4) {
    std::snprintf(text, sizeof text, "%.0fk", value / 1e3);
  } else if (value >= 1e3) {
    std::snprintf(text, sizeof text, "%.1fk", value / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.0f", value);
  }
  return text;
}

std::string stacked_bars(const std::string& title, const std::vector<std::string>& labels,
                         const std::vector<Series>& series) {
  Drawing drawing(title);
  double maximum = 0;
  for (size_t i = 0; i < labels.size(); ++i) {
    double total = 0;
    for (const Series& each : series) total += i < each.values.size() ? each.values[i] : 0;
    maximum = std::max(maximum, total);
  }
  // At least 5, so that each of the five steps is a whole count.
  const double top = std::max(5.0, axis_top(maximum));
  axis(drawing, top, false);
  const double slot = (kWidth - kLeft - kRight) / static_cast<double>(std::max<size_t>(1, labels.size()));
  for (size_t i = 0; i < labels.size(); ++i) {
    double base = 0;
    for (size_t s = 0; s < series.size(); ++s) {
      const double value = i < series[s].values.size() ? series[s].values[i] : 0;
      if (value <= 0) continue;
      const double y = y_of(base + value, top);
      drawing.rect(kLeft + slot * static_cast<double>(i) + slot * 0.15, y, slot * 0.7, y_of(base, top) - y, colour(s));
      base += value;
    }
  }
  labels_below(drawing, labels, slot);
  std::vector<std::string> names;
  for (const Series& each : series) names.push_back(each.name);
  legend(drawing, names);
  return drawing.finish();
}

std::string share_line(const std::string& title, const std::vector<std::string>& labels,
                       const std::vector<double>& shares) {
  Drawing drawing(title);
  axis(drawing, 1, true);
  const double slot = (kWidth - kLeft - kRight) / static_cast<double>(std::max<size_t>(1, labels.size()));
  std::string points;
  for (size_t i = 0; i < shares.size() && i < labels.size(); ++i) {
    const double x = kLeft + slot * (static_cast<double>(i) + 0.5);
    const double y = y_of(std::clamp(shares[i], 0.0, 1.0), 1);
    points += (points.empty() ? "" : " ") + fixed(x) + "," + fixed(y);
    drawing.markup("<circle cx=\"" + fixed(x) + "\" cy=\"" + fixed(y) + "\" r=\"3\" fill=\"" + colour(2) + "\"/>");
  }
  drawing.markup("<polyline fill=\"none\" stroke-width=\"2\" stroke=\"" + std::string(colour(2)) + "\" points=\"" +
                 points + "\"/>");
  labels_below(drawing, labels, slot);
  legend(drawing, {"attested share"});
  return drawing.finish();
}

}  // namespace tamrik::platform::svg
