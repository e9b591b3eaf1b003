#pragma once
// JSON values as the rest of the system holds them: insertion-ordered maps.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace tamrik::core {

using Json = nlohmann::ordered_json;

// Deepest nesting we accept from untrusted text. nlohmann's copy and dump()
// recurse per level without limit; refusing deep input keeps them safe.
inline constexpr int kMaxJsonDepth = 256;

// "Set": present and truthy. Not null, false, 0, 0.0, "", [] or {}.
bool is_set(const Json& value);
// is_set() of obj[key]; false when obj is not an object or lacks the key.
bool is_set(const Json& obj, std::string_view key);

// Text member of an object, or `fallback` when absent or not text.
std::string get_text(const Json& obj, std::string_view key, std::string_view fallback = "");

// Parses untrusted JSON text. Never throws: invalid text, numbers out of
// range, invalid UTF-8 and nesting deeper than kMaxJsonDepth give nullopt.
std::optional<Json> parse_json(std::string_view text);
// The same, throwing JSONDecodeError with the decoder's description.
Json parse_json_or_throw(std::string_view text);

// The ledger line encoding: ", " between members, ": " after keys, members in
// insertion order, non-ASCII as lowercase \uXXXX escapes (surrogate pairs
// above U+FFFF), control characters and DEL escaped, numbers as nlohmann
// writes them, no trailing line break. Each invalid UTF-8 sequence in text
// becomes U+FFFD. Written without recursion, so a value of any depth is safe
// (values built in code are not bounded by kMaxJsonDepth).
std::string to_json_line(const Json& value);

// Compact JSON for the wire (no spaces), UTF-8 kept, invalid bytes replaced;
// otherwise byte for byte nlohmann's dump(), and likewise without recursion.
std::string to_json_compact(const Json& value);

}  // namespace tamrik::core
