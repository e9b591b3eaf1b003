#pragma once
// The meaning of unquoted YAML scalars: how the loader reads them and when
// the emitter must quote text so that every reader takes it for text.

#include <string>
#include <string_view>

#include "core/json.hpp"

namespace tamrik::core {

// A plain (unquoted) scalar under the YAML 1.2 core schema: null ("", ~,
// null/Null/NULL), bool (true/True/TRUE, false/False/FALSE), int ([-+]digits,
// 0o octal, 0x hex), float ([-+] digits with a point and/or exponent).
// Everything else is text: .inf and .nan (JSON has no such numbers),
// integers beyond 64 bits, floats beyond double range, dates, times, and the
// YAML 1.1 words yes/no/on/off.
Json resolve_plain_scalar(std::string_view text);

// Whether `text`, written unquoted as a block-style key or value, could read
// back as anything but this very text, by this loader or by any YAML 1.1 or
// 1.2 reader: numbers of every YAML 1.1 form (0123, 1_000, 0b101, 1:20,
// .5, +1, 1e3, .inf, .nan), booleans and null words in any case (y, n, yes,
// no, on, off, true, false, null, ~), the empty text, dates and timestamps,
// the merge key "<<", and text that is not safe unquoted at all (leading or
// trailing blanks, an indicator character first, ": " or " #" inside, a
// trailing ":", tabs, line breaks, characters YAML does not print).
bool needs_quotes(std::string_view text);

// A finite float as YAML text that every reader takes for this float: always
// with a decimal point, exponent signed ("1.0", "1.0e+16"). Non-finite values
// give ".inf", "-.inf" and ".nan".
std::string yaml_float_text(double value);

}  // namespace tamrik::core
