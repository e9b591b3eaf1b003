#pragma once
// YAML at the file boundary. Inside the system documents are JSON values.

#include "core/json.hpp"

#include <string>
#include <string_view>

namespace tamrik::core {

// Loads one YAML document into JSON, safely:
// - mapping order is kept; duplicate keys keep the first value; a mapping
//   of any size loads without a search per key (n log n at worst);
// - scalars follow the YAML core schema: null (~, null, empty), bool
//   (true/false/True/TRUE...), int (decimal, 0x, 0o), float (decimal and
//   exponent forms; .inf and .nan stay text, JSON has no such numbers);
//   everything else, dates and times included, stays text, as do integers
//   beyond 64 bits; quoted scalars are always text;
// - mapping keys are taken as their text ("1: a" has the key "1", a null key
//   is "null"); a list or mapping as a key throws YAMLError;
// - the standard tags !!str, !!int, !!float, !!bool, !!null are honoured,
//   !!timestamp stays text; any other tag throws YAMLError, as a safe loader
//   constructs no other types;
// - an alias (*name) stands for a copy of its anchor's value; the copies of
//   a document add up to at most 100,000 values, or YAMLError (aliases of
//   aliases would otherwise grow a small text exponentially);
// - nesting deeper than kMaxJsonDepth throws YAMLError;
// - a second document (or trailing text the parser cannot place) throws
//   YAMLError, unless `later` is ignore: then the later documents must
//   still parse and are dropped;
// - an empty document loads as null;
// - bytes that are not UTF-8 load as U+FFFD, one per invalid sequence.
// Throws YAMLError for any text it cannot load, with its line and column.
enum class LaterDocuments { refuse, ignore };
Json load_yaml(std::string_view text, LaterDocuments later = LaterDocuments::refuse);

// Emits `value` as block-style YAML (flow only for empty collections), keys in
// insertion order (a key of over 1000 bytes in the explicit "? key" form),
// ending with a line break; lists under a key are indented two spaces, a
// top-level scalar is a one-line document. Quoted text uses JSON-style escapes and
// keeps non-ASCII characters as UTF-8; invalid UTF-8 becomes U+FFFD. Floats
// always carry a decimal point (1.0, 1.0e+16) so every reader reads them as
// floats. Text that a YAML 1.1 or 1.2 reader would take for anything but text
// (numbers, booleans incl. yes/no/on/off, null, dates, times) is quoted, as
// is text with leading or trailing blanks, special first characters or line
// breaks. A number parse_json kept as written is written as its text.
// load_yaml(emit_yaml(v)) equals v for every v whose numbers are finite
// values.
std::string emit_yaml(const Json& value);

}  // namespace tamrik::core
