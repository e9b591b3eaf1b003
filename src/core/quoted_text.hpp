#pragma once
// Text as a double-quoted string literal, the one escaping routine behind
// the JSON writers and the YAML emitter. Invalid UTF-8 never passes through:
// each broken sequence becomes U+FFFD, so the output is always valid UTF-8.

#include <string>
#include <string_view>

namespace tamrik::core {

enum class QuoteStyle {
  // JSON, ASCII only: every character beyond ASCII (and DEL) as a lowercase
  // \uXXXX escape, with a surrogate pair above U+FFFF.
  json_ascii,
  // JSON with UTF-8 kept as it is; only control characters and the line
  // separators U+0085, U+2028 and U+2029 are escaped, so the text is one
  // line for every reader of lines.
  json_utf8,
  // YAML double-quoted: UTF-8 kept, but every character YAML does not allow
  // unescaped (controls, DEL, C1, U+2028/9 line separators, BOM, U+FFFE/F)
  // escaped as \uXXXX.
  yaml,
};

// Appends `text` between double quotes, escaped for `style`: \" \\ \b \f
// \n \r \t, other control characters as \u00XX.
void append_quoted(std::string& out, std::string_view text, QuoteStyle style);

// Whether a YAML scalar may hold `code_point` as it is: a printable
// character that is not a tab or line break (those are always escaped).
bool yaml_printable(char32_t code_point);

}  // namespace tamrik::core
