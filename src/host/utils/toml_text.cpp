#include "host/utils/toml_text.hpp"

#include <algorithm>
#include <cstdio>

namespace tamrik::utils::toml_text {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::size_t code_point_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  return 4;
}

}  // namespace

std::size_t offset(std::string_view text, std::size_t line, std::size_t column) {
  std::size_t at = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
  for (std::size_t l = 1; l < line; ++l) {
    at = text.find('\n', at);
    if (at == std::string_view::npos) return text.size();
    ++at;
  }
  for (std::size_t c = 1; c < column && at < text.size(); ++c) {
    at += code_point_length(static_cast<unsigned char>(text[at]));
  }
  return std::min(at, text.size());
}

std::string basic_string(std::string_view value) {
  std::string out = "\"";
  for (const char c : value) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string_view line_ending(std::string_view text) {
  const std::size_t newline = text.find('\n');
  return newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r' ? "\r\n" : "\n";
}

}  // namespace tamrik::utils::toml_text
