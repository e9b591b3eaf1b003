#include "core/json.hpp"

#include <vector>

#include "core/errors.hpp"
#include "core/quoted_text.hpp"

namespace tamrik::core {

namespace {

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

// nlohmann prefixes its messages with "[json.exception.parse_error.101] ";
// the rest is the useful part.
std::string without_exception_tag(const std::string& message) {
  if (message.empty() || message.front() != '[') return message;
  const std::size_t end = message.find("] ");
  return end == std::string::npos ? message : message.substr(end + 2);
}

Json parse_checked(std::string_view text) {
  if (bracket_depth(text, kMaxJsonDepth) > kMaxJsonDepth) {
    throw JSONDecodeError("JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  }
  try {
    return Json::parse(text.begin(), text.end());
  } catch (const Json::exception& e) {
    // parse_error, and out_of_range for numbers such as 1e400.
    throw JSONDecodeError(without_exception_tag(e.what()));
  }
}

struct Spacing {
  std::string_view item_separator;
  std::string_view key_separator;
  QuoteStyle quote_style;
};

constexpr Spacing kLineSpacing{", ", ": ", QuoteStyle::json_ascii};
constexpr Spacing kCompactSpacing{",", ":", QuoteStyle::json_utf8};

// Writes any leaf value. Numbers go through nlohmann's own formatting
// (integers exact, floats the shortest text that reads back to the same
// double, non-finite as null); a leaf has no children, so its dump cannot
// recurse.
void append_scalar(std::string& out, const Json& value, QuoteStyle quote_style) {
  switch (value.type()) {
    case Json::value_t::string:
      append_quoted(out, value.get_ref<const std::string&>(), quote_style);
      break;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      out += value.dump();
      break;
    case Json::value_t::boolean:
      out += value.get<bool>() ? "true" : "false";
      break;
    case Json::value_t::array:
      out += "[]";
      break;
    case Json::value_t::object:
      out += "{}";
      break;
    case Json::value_t::null:
    case Json::value_t::binary:     // never built by this system
    case Json::value_t::discarded:  // only seen inside parser callbacks
      out += "null";
      break;
  }
}

// Writes `root` with an explicit stack instead of recursion, so a value of
// any depth (values built in code are not bounded by kMaxJsonDepth) cannot
// exhaust the call stack.
std::string write_json(const Json& root, const Spacing& spacing) {
  struct Frame {
    const Json* container;
    Json::const_iterator next;
    bool first = true;
  };
  std::string out;
  std::vector<Frame> stack;

  auto write_value = [&](const Json& value) {
    if (value.is_structured() && !value.empty()) {
      out += value.is_object() ? '{' : '[';
      stack.push_back({&value, value.begin()});
    } else {
      append_scalar(out, value, spacing.quote_style);
    }
  };

  write_value(root);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.container->end()) {
      out += frame.container->is_object() ? '}' : ']';
      stack.pop_back();
      continue;
    }
    if (!frame.first) out += spacing.item_separator;
    frame.first = false;
    if (frame.container->is_object()) {
      append_quoted(out, frame.next.key(), spacing.quote_style);
      out += spacing.key_separator;
    }
    const Json& child = frame.next.value();
    ++frame.next;
    write_value(child);  // may grow the stack: `frame` is not used after this
  }
  return out;
}

}  // namespace

bool is_set(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
      return false;
    case Json::value_t::boolean:
      return value.get<bool>();
    case Json::value_t::number_integer:
      return value.get<std::int64_t>() != 0;
    case Json::value_t::number_unsigned:
      return value.get<std::uint64_t>() != 0;
    case Json::value_t::number_float:
      return value.get<double>() != 0.0;
    case Json::value_t::string:
      return !value.get_ref<const std::string&>().empty();
    case Json::value_t::binary:
      return !value.get_binary().empty();
    case Json::value_t::array:
    case Json::value_t::object:
      return !value.empty();
  }
  return false;
}

bool is_set(const Json& obj, std::string_view key) {
  if (!obj.is_object()) return false;
  const auto it = obj.find(key);
  return it != obj.end() && is_set(*it);
}

std::string get_text(const Json& obj, std::string_view key, std::string_view fallback) {
  if (obj.is_object()) {
    const auto it = obj.find(key);
    if (it != obj.end() && it->is_string()) return it->get<std::string>();
  }
  return std::string(fallback);
}

std::optional<Json> parse_json(std::string_view text) {
  try {
    return parse_checked(text);
  } catch (const std::exception&) {
    // Invalid text, and also memory exhaustion on a huge document: callers
    // treat both as "not usable JSON".
    return std::nullopt;
  }
}

Json parse_json_or_throw(std::string_view text) { return parse_checked(text); }

std::string to_json_line(const Json& value) { return write_json(value, kLineSpacing); }

std::string to_json_compact(const Json& value) { return write_json(value, kCompactSpacing); }

}  // namespace tamrik::core
