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

// The character that ends at `bytes[end - 1]`; `end` must be above 0. A
// byte that ends no valid sequence reads as one invalid character.
Utf8Char decode_utf8_char_before(std::string_view bytes, std::size_t end);

// White space as Unicode text handling counts it: the ASCII blanks, the
// separators U+001C to U+001F, NEL, NO-BREAK SPACE, the Zs spaces and the
// line and paragraph separators.
bool is_unicode_space(char32_t c);

// `text` without its leading and trailing Unicode white space.
std::string_view trim_unicode_space(std::string_view text);
std::string_view trim_unicode_space_front(std::string_view text);

// A letter, digit or underscore of any script: what a regular expression's
// \w matches on Unicode text, so \b sits between such a character and any
// other (an em dash is not a word character).
bool is_word_character(char32_t c);

// Whether every character of `text` decodes.
bool is_valid_utf8(std::string_view text);

// Appends the UTF-8 encoding of a valid code point.
void append_utf8(std::string& out, char32_t code_point);

// `text` safe to print on a terminal: every control character (C0, DEL,
// C1, which can drive the terminal) becomes a space and every broken
// sequence U+FFFD. For text another party wrote, such as a server's.
std::string printable_text(std::string_view text);

}  // namespace tamrik::core
