#pragma once
// HTML written from values agents and people chose: every text and
// attribute value escaped, bidirectional overrides neutralised, and links
// only to paths this server builds.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrik::platform::html {

// `text` safe in element content and in a quoted attribute value: & < > " '
// escaped; control characters, broken UTF-8 and the bidirectional
// embeddings, overrides and isolates (U+202A-202E, U+2066-2069), which
// could make a summary read in a different order than it is written,
// become U+FFFD. New lines and tabs stay.
std::string escaped(std::string_view text);

using Attributes = std::vector<std::pair<std::string_view, std::string>>;

// A page built in order; every value given through text() and attributes
// is escaped here, so a caller cannot forget.
class Builder {
 public:
  // <tag a="v">; the tag and attribute names are this program's own words.
  Builder& open(std::string_view tag, const Attributes& attributes = {});
  Builder& close(std::string_view tag);
  Builder& text(std::string_view text);
  // <tag ...>text</tag>
  Builder& element(std::string_view tag, std::string_view text, const Attributes& attributes = {});
  // A void element: <input ...>, <br>.
  Builder& empty(std::string_view tag, const Attributes& attributes);
  // Markup this program wrote itself (another Builder's result, SVG drawn
  // by svg_chart); never a stored value.
  Builder& markup(std::string_view trusted);

  const std::string& str() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
  void start_tag(std::string_view tag, const Attributes& attributes);
  std::string out_;
};

}  // namespace tamrik::platform::html
