#include "platform/html.hpp"

#include "core/utf8.hpp"

namespace tamrik::platform::html {

namespace {

bool is_bidi_control(char32_t c) { return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069); }

bool is_control(char32_t c) { return (c < 0x20 && c != '\n' && c != '\t') || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t at = 0; at < text.size();) {
    const core::Utf8Char c = core::decode_utf8_char(text, at);
    at += c.length;
    switch (c.code_point) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '"':
        out += "&quot;";
        continue;
      case '\'':
        out += "&#39;";
        continue;
      default:
        break;
    }
    const bool shown = c.valid && !is_control(c.code_point) && !is_bidi_control(c.code_point);
    core::append_utf8(out, shown ? c.code_point : core::kReplacementCharacter);
  }
  return out;
}

void Builder::start_tag(std::string_view tag, const Attributes& attributes) {
  out_ += '<';
  out_ += tag;
  for (const auto& [name, value] : attributes) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    out_ += escaped(value);
    out_ += '"';
  }
  out_ += '>';
}

Builder& Builder::open(std::string_view tag, const Attributes& attributes) {
  start_tag(tag, attributes);
  return *this;
}

Builder& Builder::close(std::string_view tag) {
  out_ += "</";
  out_ += tag;
  out_ += '>';
  return *this;
}

Builder& Builder::text(std::string_view text) {
  out_ += escaped(text);
  return *this;
}

Builder& Builder::element(std::string_view tag, std::string_view text, const Attributes& attributes) {
  return open(tag, attributes).text(text).close(tag);
}

Builder& Builder::empty(std::string_view tag, const Attributes& attributes) {
  start_tag(tag, attributes);
  return *this;
}

Builder& Builder::markup(std::string_view trusted) {
  out_ += trusted;
  return *this;
}

}  // namespace tamrik::platform::html
