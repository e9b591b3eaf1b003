#include "core/utf8.hpp"

#include <locale.h>
#include <wctype.h>

namespace tamrik::core {

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

Utf8Char decode_utf8_char(std::string_view bytes, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(bytes[pos]);
  if (lead < 0x80) return {lead, 1, true};

  // The lead byte fixes the length, the payload bits it carries and the
  // allowed range of the second byte (which rules out overlong forms,
  // surrogates and values above U+10FFFF).
  std::size_t length = 0;
  char32_t code_point = 0;
  unsigned char second_min = 0x80;
  unsigned char second_max = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    if (lead == 0xE0) second_min = 0xA0;
    if (lead == 0xED) second_max = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    if (lead == 0xF0) second_min = 0x90;
    if (lead == 0xF4) second_max = 0x8F;
  } else {
    return {};
  }

  for (std::size_t i = 1; i < length; ++i) {
    if (pos + i >= bytes.size()) return {kReplacementCharacter, i, false};
    const auto byte = static_cast<unsigned char>(bytes[pos + i]);
    const bool in_range = i == 1 ? (byte >= second_min && byte <= second_max) : is_continuation(byte);
    if (!in_range) return {kReplacementCharacter, i, false};
    code_point = (code_point << 6) | (byte & 0x3F);
  }
  return {code_point, length, true};
}

Utf8Char decode_utf8_char_before(std::string_view bytes, std::size_t end) {
  std::size_t start = end - 1;
  while (start > 0 && end - start < 4 && is_continuation(static_cast<unsigned char>(bytes[start]))) --start;
  const Utf8Char c = decode_utf8_char(bytes, start);
  if (c.valid && start + c.length == end) return c;
  return {};
}

bool is_unicode_space(char32_t c) {
  if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x1F);
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_unicode_space_front(std::string_view text) {
  while (!text.empty()) {
    const Utf8Char c = decode_utf8_char(text, 0);
    if (!c.valid || !is_unicode_space(c.code_point)) break;
    text.remove_prefix(c.length);
  }
  return text;
}

std::string_view trim_unicode_space(std::string_view text) {
  text = trim_unicode_space_front(text);
  while (!text.empty()) {
    const Utf8Char c = decode_utf8_char_before(text, text.size());
    if (!c.valid || !is_unicode_space(c.code_point)) break;
    text.remove_suffix(c.length);
  }
  return text;
}

bool is_word_character(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  // The C.UTF-8 locale carries Unicode's classes; made once, never freed.
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (unicode == locale_t{}) return true;
  return iswalnum_l(static_cast<wint_t>(c), unicode) != 0;
}

void append_utf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

bool is_valid_utf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    const Utf8Char c = decode_utf8_char(text, pos);
    if (!c.valid) return false;
    pos += c.length;
  }
  return true;
}

std::string printable_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const Utf8Char c = decode_utf8_char(text, pos);
    const bool control = c.code_point < 0x20 || (c.code_point >= 0x7f && c.code_point <= 0x9f);
    if (control) {
      out.push_back(' ');
    } else {
      append_utf8(out, c.code_point);
    }
    pos += c.length;
  }
  return out;
}

}  // namespace tamrik::core
