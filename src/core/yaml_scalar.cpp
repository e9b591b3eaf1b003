#include "core/yaml_scalar.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "core/quoted_text.hpp"
#include "core/utf8.hpp"
#include "core/text.hpp"

namespace tamrik::core {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_of(std::string_view text, auto predicate) {
  for (char c : text) {
    if (!predicate(c)) return false;
  }
  return true;
}

// Text without its leading sign; `negative` tells which sign it was.
std::string_view unsigned_part(std::string_view text, bool& negative) {
  negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  return text;
}

// The integer of `digits` in `base`, negated when asked; nullopt when it does
// not fit 64 bits (signed, or unsigned for large positive values).
std::optional<Json> integer_value(std::string_view digits, int base, bool negative) {
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  constexpr auto kMaxSigned = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (!negative) {
    if (magnitude <= kMaxSigned) return Json(static_cast<std::int64_t>(magnitude));
    return Json(magnitude);
  }
  if (magnitude <= kMaxSigned) return Json(-static_cast<std::int64_t>(magnitude));
  if (magnitude == kMaxSigned + 1) return Json(std::numeric_limits<std::int64_t>::min());
  return std::nullopt;
}

bool is_hex_digit(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool is_octal_digit(char c) { return c >= '0' && c <= '7'; }

// [-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?
bool is_core_float(std::string_view text) {
  bool negative = false;
  std::string_view rest = unsigned_part(text, negative);
  std::size_t i = 0;
  auto skip_digits = [&] {
    const std::size_t start = i;
    while (i < rest.size() && is_digit(rest[i])) ++i;
    return i - start;
  };
  const std::size_t whole = skip_digits();
  std::size_t fraction = 0;
  if (i < rest.size() && rest[i] == '.') {
    ++i;
    fraction = skip_digits();
  }
  if (whole == 0 && fraction == 0) return false;
  if (i < rest.size() && (rest[i] == 'e' || rest[i] == 'E')) {
    ++i;
    if (i < rest.size() && (rest[i] == '-' || rest[i] == '+')) ++i;
    if (skip_digits() == 0) return false;
  }
  return i == rest.size();
}

std::optional<Json> float_value(std::string_view text) {
  bool negative = false;
  const std::string_view rest = unsigned_part(text, negative);
  double magnitude = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), magnitude);
  if (error != std::errc() || end != rest.data() + rest.size() || !std::isfinite(magnitude)) return std::nullopt;
  return Json(negative ? -magnitude : magnitude);
}

std::optional<Json> number_value(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'o')) {
    const std::string_view digits = text.substr(2);
    const bool hex = text[1] == 'x';
    if (!all_of(digits, hex ? is_hex_digit : is_octal_digit)) return std::nullopt;
    return integer_value(digits, hex ? 16 : 8, false);
  }
  bool negative = false;
  const std::string_view digits = unsigned_part(text, negative);
  if (!digits.empty() && all_of(digits, is_digit)) return integer_value(digits, 10, negative);
  if (is_core_float(text)) return float_value(text);
  return std::nullopt;
}

// Words some YAML reader takes for a boolean or null, compared lower-cased.
bool is_keyword(std::string_view text) {
  static constexpr std::array<std::string_view, 9> kWords = {"y",   "n",    "yes",   "no",  "on",
                                                             "off", "true", "false", "null"};
  if (text.size() > 5) return false;
  const std::string lowered = lower_ascii(text);
  for (std::string_view word : kWords) {
    if (lowered == word) return true;
  }
  return false;
}

// A broad net over the YAML 1.1 number forms (decimal, 0b, 0 octal, 0x,
// underscores, sexagesimal 1:20, floats with or without digits before the
// point): a digit first (after a sign, or after a point), and nothing but
// digits, hex letters, base letters, '_', '.', ':' and signs. It quotes
// some harmless text too ("12ab"), never the other way round.
bool looks_numeric(std::string_view text) {
  bool negative = false;
  std::string_view rest = unsigned_part(text, negative);
  if (rest.starts_with('.')) rest.remove_prefix(1);
  if (rest.empty() || !is_digit(rest.front())) return false;
  return all_of(text, [](char c) {
    return is_hex_digit(c) || c == 'x' || c == 'X' || c == 'o' || c == 'O' || c == '_' || c == '.' || c == ':' ||
           c == '+' || c == '-';
  });
}

// .inf, -.inf, +.inf, .nan in any case.
bool is_special_float(std::string_view text) {
  bool negative = false;
  const std::string lowered = lower_ascii(unsigned_part(text, negative));
  return lowered == ".inf" || lowered == ".nan";
}

// YYYY-... : every YAML 1.1 date and timestamp begins this way.
bool looks_like_date(std::string_view text) {
  return text.size() >= 5 && all_of(text.substr(0, 4), is_digit) && text[4] == '-';
}

// Text a plain scalar cannot hold as it is, whatever it means.
bool unsafe_unquoted(std::string_view text) {
  static constexpr std::string_view kIndicators = "-?:,[]{}#&*!|>'\"%@`";
  if (text.front() == ' ' || text.back() == ' ' || text.back() == ':') return true;
  if (kIndicators.find(text.front()) != std::string_view::npos) return true;
  if (text.starts_with("...")) return true;  // document end marker
  if (text.find(": ") != std::string_view::npos || text.find(" #") != std::string_view::npos) return true;
  for (std::size_t pos = 0; pos < text.size();) {
    const Utf8Char c = decode_utf8_char(text, pos);
    if (!c.valid || !yaml_printable(c.code_point)) return true;
    pos += c.length;
  }
  return false;
}

}  // namespace

Json resolve_plain_scalar(std::string_view text) {
  if (text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL") return nullptr;
  if (text == "true" || text == "True" || text == "TRUE") return true;
  if (text == "false" || text == "False" || text == "FALSE") return false;
  const bool may_be_number =
      is_digit(text.front()) || text.front() == '-' || text.front() == '+' || text.front() == '.';
  if (may_be_number) {
    if (auto number = number_value(text)) return std::move(*number);
  }
  return std::string(text);
}

bool needs_quotes(std::string_view text) {
  if (text.empty() || unsafe_unquoted(text)) return true;
  if (is_keyword(text) || is_special_float(text) || looks_numeric(text) || looks_like_date(text)) return true;
  if (text == "<<" || text == "=") return true;  // YAML 1.1 merge and value keys
  return !resolve_plain_scalar(text).is_string();
}

std::string yaml_float_text(double value) {
  if (std::isnan(value)) return ".nan";
  if (std::isinf(value)) return value < 0 ? "-.inf" : ".inf";
  std::string text = Json(value).dump();
  // nlohmann writes 1e+16 for 1.0e+16; YAML 1.1 readers need the point.
  if (text.find('.') == std::string::npos) {
    const std::size_t exponent = text.find('e');
    text.insert(exponent == std::string::npos ? text.size() : exponent, ".0");
  }
  return text;
}

}  // namespace tamrik::core
