#pragma once
// UTF-8 decoding one character at a time, for writers that must re-encode
// or escape text and cannot trust it to be valid.

#include <cstddef>
#include <string>
#include <string_view>

namespace tamrik::core {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

struct Utf8Char {
  // The decoded character, or kReplacementCharacter when `valid` is false.
  char32_t code_point = kReplacementCharacter;
  // Bytes consumed, at least 1. An invalid sequence consumes its longest
  // valid-looking prefix (the "maximal subpart"), so each broken sequence
  // becomes exactly one replacement character and the next character is
  // never swallowed.
  std::size_t length = 1;
  bool valid = false;
};

// Decodes the character starting at `bytes[pos]`; `pos` must be in range.
// Overlong forms, surrogates and values above U+10FFFF are invalid.
Utf8Char decode_utf8_char(std::string_view bytes, std::size_t pos);

// Whether every character of `text` decodes.
bool is_valid_utf8(std::string_view text);

// Appends the UTF-8 encoding of a valid code point.
void append_utf8(std::string& out, char32_t code_point);

// `text` safe to print on a terminal: every control character (C0, DEL,
// C1, which can drive the terminal) becomes a space and every broken
// sequence U+FFFD. For text another party wrote, such as a server's.
std::string printable_text(std::string_view text);

}  // namespace tamrik::core
