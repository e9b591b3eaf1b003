#pragma once
// Small text helpers every layer needs, in one place. ASCII only: the texts
// they serve (header values, hosts, names, git's output) are ASCII where it
// matters, and other bytes pass through unchanged.

#include <string>
#include <string_view>
#include <vector>

namespace tamrik::core {

// What trim() takes off by default: blanks and line ends.
inline constexpr std::string_view kBlanks = " \t\r\n";
// C's isspace() in the "C" locale: kBlanks with vertical tab and form feed.
inline constexpr std::string_view kAsciiSpace = " \t\r\n\v\f";

// `text` without the leading and trailing characters listed in `blanks`.
std::string_view trim(std::string_view text, std::string_view blanks = kBlanks);
// `text` without the trailing ones only.
std::string_view trim_end(std::string_view text, std::string_view blanks = kBlanks);
// A-Z made a-z, every other byte kept.
std::string lower_ascii(std::string_view text);
// Equal but for the case of ASCII letters.
bool equals_ignoring_case(std::string_view a, std::string_view b);
// Whether `part` occurs in `text`, the case of ASCII letters aside.
bool contains_ignoring_case(std::string_view text, std::string_view part);

// The lines of `text` (git's output, a small file), split at '\n' and
// without it. A final line break ends the last line rather than starting an
// empty one, so "" and "\n" hold no line and one empty line respectively.
// Views into `text`.
std::vector<std::string_view> lines_of(std::string_view text);

// Every byte but the unreserved ones of RFC 3986 (A-Z a-z 0-9 - _ . ~)
// written as %XX, for a query value or a path segment.
std::string percent_encoded(std::string_view text);

}  // namespace tamrik::core
