// Reading untrusted JSON text: the JSON library's own tokenizer and checks,
// with the values built through JsonTreeBuilder instead of the library's
// builder, whose per-member key search makes large objects quadratic.

#include <cstdint>
#include <vector>

#include "core/errors.hpp"
#include "core/json.hpp"
#include "core/json_tree_builder.hpp"

namespace tamrik::core {

namespace {

// Marks the binary values that hold a number's text. Nothing else in this
// system builds binary values.
constexpr std::uint64_t kWrittenNumberSubtype = 0x4e;

Json number_as_written(std::string_view text) {
  return Json::binary(std::vector<std::uint8_t>(text.begin(), text.end()), kWrittenNumberSubtype);
}

// The deepest bracket nesting of JSON text, brackets inside strings not
// counted. Stops counting once `limit` is passed. Cheap enough to run before
// every parse, so a hostile document is refused before any value is built.
int bracket_depth(std::string_view text, int limit) {
  int depth = 0;
  int deepest = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > deepest) {
        deepest = depth;
        if (deepest > limit) break;
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

// The JSON library's tokenizer takes a NUL byte for the end of the text, so
// "{...}\0{...}" would read as its first value, the rest dropped unseen (and
// lost when the value is written back). After a NUL only more NULs and
// blanks may follow: the padding a crash can leave at the end of a file.
bool has_text_after_nul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul != std::string_view::npos &&
         text.find_first_not_of(std::string_view("\0 \t\r\n", 5), nul) != std::string_view::npos;
}

// nlohmann prefixes its messages with "[json.exception.parse_error.101] ";
// the rest is the useful part.
std::string without_exception_tag(const std::string& message) {
  if (message.empty() || message.front() != '[') return message;
  const std::size_t end = message.find("] ");
  return end == std::string::npos ? message : message.substr(end + 2);
}

// The events of nlohmann's parser (its SAX interface), built into a value.
// Duplicate keys keep their last value, as the library's own builder does.
class JsonEvents {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  explicit JsonEvents(Numbers numbers) : numbers_(numbers) {}

  Json take_result() { return tree_.take_result(); }

  bool null() { return add(nullptr); }
  bool boolean(bool value) { return add(value); }
  // The parser reports a number written with a minus sign here and any
  // other integer as unsigned, so a zero here was written "-0".
  bool number_integer(number_integer_t value) {
    return add(value == 0 && numbers_ == Numbers::as_written ? number_as_written("-0") : Json(value));
  }
  bool number_unsigned(number_unsigned_t value) { return add(value); }
  bool number_float(number_float_t value, const string_t& text) {
    Json number(value);
    if (numbers_ == Numbers::as_written && number.dump() != text) number = number_as_written(text);
    return add(std::move(number));
  }
  bool string(string_t& value) { return add(std::move(value)); }
  bool binary(binary_t& /*value*/) { return false; }  // only binary formats have these, never JSON text

  bool start_object(std::size_t /*elements*/) {
    tree_.open_object();
    return true;
  }
  bool key(string_t& key) {
    tree_.add_key(std::move(key));
    return true;
  }
  bool end_object() {
    tree_.close();
    return true;
  }
  bool start_array(std::size_t /*elements*/) {
    tree_.open_array();
    return true;
  }
  bool end_array() {
    tree_.close();
    return true;
  }

  // parse_error, and out_of_range for numbers such as 1e400.
  template <typename Error>
  bool parse_error(std::size_t /*position*/, const std::string& /*token*/, const Error& error) {
    throw JSONDecodeError(without_exception_tag(error.what()));
  }

 private:
  bool add(Json value) {
    tree_.add_value(std::move(value));
    return true;
  }

  Numbers numbers_;
  JsonTreeBuilder tree_{DuplicateKeys::keep_last};
};

Json parse_checked(std::string_view text, Numbers numbers) {
  if (bracket_depth(text, kMaxJsonDepth) > kMaxJsonDepth) {
    throw JSONDecodeError("JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  }
  if (has_text_after_nul(text)) throw JSONDecodeError("the JSON text goes on after a NUL byte");
  JsonEvents events(numbers);
  Json::sax_parse(text.begin(), text.end(), &events);
  return events.take_result();
}

}  // namespace

std::optional<Json> parse_json(std::string_view text, Numbers numbers) {
  try {
    return parse_checked(text, numbers);
  } catch (const std::exception&) {
    // Invalid text, and also memory exhaustion on a huge document: callers
    // treat both as "not usable JSON".
    return std::nullopt;
  }
}

Json parse_json_or_throw(std::string_view text) { return parse_checked(text, Numbers::as_values); }

std::optional<std::string_view> written_number(const Json& value) {
  if (!value.is_binary()) return std::nullopt;
  const Json::binary_t& bytes = value.get_binary();
  if (!bytes.has_subtype() || bytes.subtype() != kWrittenNumberSubtype) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace tamrik::core
