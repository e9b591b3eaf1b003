// JSON reading and writing over arbitrary bytes. With numbers as values the
// reader gives what the JSON library's own parser gives (up to the depth
// limit). In both number modes, both writers give text without any line
// break that reads back to the same value and writes the same again, and a
// number kept as written stands for the value the other mode reads.

#include "core/json.hpp"
#include "scratch.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

namespace core = tamrik::core;
using core::Json;
using tamrik::fuzz::require;

// How deep `value` nests lists and objects, found without recursion.
int depth_of(const Json& value) {
  int deepest = 0;
  std::vector<std::pair<const Json*, int>> todo{{&value, 0}};
  while (!todo.empty()) {
    const auto [next, depth] = todo.back();
    todo.pop_back();
    if (!next->is_structured()) continue;
    deepest = std::max(deepest, depth + 1);
    for (const Json& child : *next) todo.emplace_back(&child, depth + 1);
  }
  return deepest;
}

// Agreement with the JSON library's own parser, which builds objects with
// its own duplicate rule (last value, first place). That parser takes a NUL
// byte for the end of the text, which parse_json does not: text holding one
// is not compared.
void check_against_library(std::string_view text, const std::optional<Json>& parsed) {
  if (text.find('\0') != std::string_view::npos) return;
  std::optional<Json> library;
  try {
    library = Json::parse(text.begin(), text.end());
  } catch (const Json::exception&) {
  }
  if (parsed) {
    require(library == parsed, "the value differs from the JSON library's");
  } else {
    require(!library || depth_of(*library) > core::kMaxJsonDepth, "text the JSON library reads was refused");
  }
}

// Any character a reader of lines may break a line at.
bool has_line_break(std::string_view text) {
  for (const char c : text) {
    if (c == '\n' || c == '\r' || c == '\v' || c == '\f' || (c >= 0x1c && c <= 0x1e)) return true;
  }
  return text.find("\xc2\x85") != std::string_view::npos || text.find("\xe2\x80\xa8") != std::string_view::npos ||
         text.find("\xe2\x80\xa9") != std::string_view::npos;
}

void check_writer(const Json& value, core::Numbers numbers, std::string (*write)(const Json&)) {
  const std::string text = write(value);
  require(!has_line_break(text), "the writer wrote a line break");
  const std::optional<Json> again = core::parse_json(text, numbers);
  require(again == value, "the written text reads back to another value");
  require(write(*again) == text, "writing the value read back gave other text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = tamrik::fuzz::as_text(data, size);
  const std::optional<Json> values = core::parse_json(text);
  check_against_library(text, values);
  const std::optional<Json> written = core::parse_json(text, core::Numbers::as_written);
  require(written.has_value() == values.has_value(), "the number modes disagree on whether the text is JSON");
  if (!values) return 0;

  for (const auto& [value, numbers] :
       {std::pair{&*values, core::Numbers::as_values}, std::pair{&*written, core::Numbers::as_written}}) {
    check_writer(*value, numbers, core::to_json_line);
    check_writer(*value, numbers, core::to_json_compact);
  }
  require(core::parse_json(core::to_json_line(*written)) == values, "a number kept as written reads as another value");
  return 0;
}
