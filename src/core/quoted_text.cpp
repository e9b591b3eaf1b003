#include "core/quoted_text.hpp"

#include "core/utf8.hpp"

namespace tamrik::core {

namespace {

void append_u_escape(std::string& out, char32_t unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

// Appends the escape of an ASCII character that needs one, or returns false.
bool append_ascii_escape(std::string& out, char c, QuoteStyle style) {
  switch (c) {
    case '"':
      out += "\\\"";
      return true;
    case '\\':
      out += "\\\\";
      return true;
    case '\b':
      out += "\\b";
      return true;
    case '\f':
      out += "\\f";
      return true;
    case '\n':
      out += "\\n";
      return true;
    case '\r':
      out += "\\r";
      return true;
    case '\t':
      out += "\\t";
      return true;
    default:
      break;
  }
  const bool control = static_cast<unsigned char>(c) < 0x20;
  const bool escaped_del = c == 0x7F && style != QuoteStyle::json_utf8;
  if (!control && !escaped_del) return false;
  append_u_escape(out, static_cast<unsigned char>(c));
  return true;
}

bool plain_ascii(char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }

// Characters beyond ASCII that a reader of lines may break a line at.
bool is_line_separator(char32_t code_point) {
  return code_point == 0x85 || code_point == 0x2028 || code_point == 0x2029;
}

bool needs_escape(char32_t code_point, QuoteStyle style) {
  switch (style) {
    case QuoteStyle::json_ascii:
      return true;
    case QuoteStyle::json_utf8:
      return is_line_separator(code_point);
    case QuoteStyle::yaml:
      return !yaml_printable(code_point);
  }
  return true;
}

void append_non_ascii(std::string& out, char32_t code_point, QuoteStyle style) {
  const bool escape = needs_escape(code_point, style);
  if (!escape) {
    append_utf8(out, code_point);
  } else if (code_point < 0x10000) {
    append_u_escape(out, code_point);
  } else {
    const char32_t offset = code_point - 0x10000;
    append_u_escape(out, 0xD800 + (offset >> 10));
    append_u_escape(out, 0xDC00 + (offset & 0x3FF));
  }
}

}  // namespace

bool yaml_printable(char32_t code_point) {
  if (code_point < 0x80) return code_point >= 0x20 && code_point < 0x7F;
  if (code_point < 0xA0) return false;  // C1 controls (YAML allows U+0085, but reads it as a line break)
  if (code_point == 0x2028 || code_point == 0x2029) return false;
  if (code_point >= 0xD800 && code_point <= 0xDFFF) return false;
  if (code_point == 0xFEFF || code_point == 0xFFFE || code_point == 0xFFFF) return false;
  return code_point <= 0x10FFFF;
}

void append_quoted(std::string& out, std::string_view text, QuoteStyle style) {
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  std::size_t pos = 0;
  while (pos < text.size()) {
    // Copy runs of characters that need nothing in one go.
    std::size_t run = pos;
    while (run < text.size() && plain_ascii(text[run])) ++run;
    out.append(text, pos, run - pos);
    pos = run;
    if (pos == text.size()) break;

    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      if (!append_ascii_escape(out, text[pos], style)) out += text[pos];
      ++pos;
      continue;
    }
    const Utf8Char c = decode_utf8_char(text, pos);
    append_non_ascii(out, c.code_point, style);
    pos += c.length;
  }
  out += '"';
}

}  // namespace tamrik::core
