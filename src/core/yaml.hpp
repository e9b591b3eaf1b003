#pragma once
// YAML at the file boundary. Inside the system documents are JSON values.

#include "core/json.hpp"

#include <string>
#include <string_view>

namespace tamrik::core {

// Loads one YAML document into JSON, safely:
// - mapping order is kept; duplicate keys keep the first value;
// - scalars follow the YAML core schema: null (~, null, empty), bool
//   (true/false/True/TRUE...), int (decimal, 0x, 0o), float (decimal and
//   exponent forms; .inf and .nan stay text, JSON has no such numbers);
//   everything else, dates and times included, stays text; quoted scalars
//   are always text;
// - aliases, nesting deeper than kMaxJsonDepth, and more than one document
//   throw YAMLError (a walk of aliased nodes can grow exponentially);
// - an empty document loads as null.
// Throws YAMLError for any text it cannot load.
Json load_yaml(std::string_view text);

// Emits `value` as block-style YAML (flow only for empty collections), keys in
// insertion order, ending with a line break. Text that a YAML 1.1 or 1.2
// reader would take for anything but text (numbers, booleans incl. yes/no/on/
// off, null, dates, times) is quoted, as is text with leading or trailing
// blanks, special first characters or line breaks. load_yaml(emit_yaml(v))
// equals v for every v whose numbers are finite.
std::string emit_yaml(const Json& value);

}  // namespace tamrik::core
