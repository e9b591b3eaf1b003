#pragma once
// JSON values as the rest of the system holds them: insertion-ordered maps.

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::core {

using Json = nlohmann::ordered_json;

// Deepest nesting we accept from untrusted text. nlohmann's copy and dump()
// recurse per level without limit; refusing deep input keeps them safe.
inline constexpr int kMaxJsonDepth = 256;

// "Set": present and truthy. Not null, false, 0, 0.0, "", [] or {}, nor a
// number kept as written whose value is zero (-0, 0.00).
bool is_set(const Json& value);
// is_set() of obj[key]; false when obj is not an object or lacks the key.
bool is_set(const Json& obj, std::string_view key);

// The members of the object `object` whose value `keep` accepts, in their
// order. Linear in the members: assigning them one by one to a new object
// would search it for every key.
Json filter_members(const Json& object, const std::function<bool(const Json& value)>& keep);

// obj[key] when obj is an object that has it, else a null value, so that
// lookups chain through absent members: member(member(record, "a"), "b").
const Json& member(const Json& obj, std::string_view key);
// Text member of an object, or nullopt when absent or not text.
std::optional<std::string> text_member(const Json& obj, std::string_view key);
// Text member of an object, or `fallback` when absent or not text.
std::string get_text(const Json& obj, std::string_view key, std::string_view fallback = "");

// How parse_json reads numbers.
enum class Numbers {
  // As the JSON library's numbers: integers of up to 64 bits, anything
  // else (an integer beyond 64 bits included) as the nearest double.
  as_values,
  // For text that is written back: a number the writers below would not
  // give back as it was written (an integer beyond 64 bits, -0, 1.50, 1E5)
  // is kept as its text (see written_number), every other one as a value.
  // Only the writers of this file and emit_yaml know such a number: the
  // JSON library's dump() and get<>() do not, so such values go nowhere
  // else.
  as_written,
};

// Parses untrusted JSON text. Never throws: invalid text, numbers out of
// range, invalid UTF-8, nesting deeper than kMaxJsonDepth and anything but
// NUL bytes and blanks after a NUL byte give nullopt.
// Objects of any size are built without a search per key (n log n at
// worst); a key given twice keeps its first place and its last value.
std::optional<Json> parse_json(std::string_view text, Numbers numbers = Numbers::as_values);
// The same, throwing JSONDecodeError with the decoder's description.
Json parse_json_or_throw(std::string_view text);

// The text of a number that parse_json kept as written; nullopt for any
// other value.
std::optional<std::string_view> written_number(const Json& value);

// The ledger line encoding: ", " between members, ": " after keys, members in
// insertion order, non-ASCII as lowercase \uXXXX escapes (surrogate pairs
// above U+FFFF), control characters and DEL escaped, numbers as nlohmann
// writes them (a number kept as written: its text), no trailing line break,
// so no line separator of any kind. Each invalid UTF-8 sequence in text
// becomes U+FFFD. Written without recursion, so a value of any depth is safe
// (values built in code are not bounded by kMaxJsonDepth).
std::string to_json_line(const Json& value);

// Compact JSON for the wire (no spaces), UTF-8 kept but for the line
// separators U+0085, U+2028 and U+2029 (escaped, so the text stays one line
// for any reader), invalid bytes replaced; otherwise byte for byte
// nlohmann's dump(), and likewise without recursion.
std::string to_json_compact(const Json& value);

}  // namespace tamrik::core
