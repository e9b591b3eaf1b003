#pragma once
// TOML as text, for edits that keep a file's layout: where a parsed node
// sits in the bytes, and how a value is spelled.

#include <cstddef>
#include <string>
#include <string_view>

namespace tamrik::utils::toml_text {

// The byte offset of a parser's source position in `text`. Lines and
// columns count from 1, columns in code points, and a byte-order mark
// takes no column, as toml++ counts them. Past the end: text.size().
std::size_t offset(std::string_view text, std::size_t line, std::size_t column);

// `value` as a TOML basic string, quotes included.
std::string basic_string(std::string_view value);

// The line ending the file uses ("\r\n" when its first line ends so).
std::string_view line_ending(std::string_view text);

}  // namespace tamrik::utils::toml_text
