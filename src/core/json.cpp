#include "core/json.hpp"

#include <vector>

#include "core/quoted_text.hpp"

namespace tamrik::core {

namespace {

struct Spacing {
  std::string_view item_separator;
  std::string_view key_separator;
  QuoteStyle quote_style;
};

constexpr Spacing kLineSpacing{", ", ": ", QuoteStyle::json_ascii};
constexpr Spacing kCompactSpacing{",", ":", QuoteStyle::json_utf8};

// Writes any leaf value. Numbers go through nlohmann's own formatting
// (integers exact, floats the shortest text that reads back to the same
// double, non-finite as null), a number kept as written as its text; a leaf
// has no children, so its dump cannot recurse.
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
    case Json::value_t::binary:  // built by this system only for a number kept as written
      out += written_number(value).value_or("null");
      break;
    case Json::value_t::null:
    case Json::value_t::discarded:  // only seen inside parser callbacks
      out += "null";
      break;
  }
}

// Whether the text of a JSON number names zero: no digit but 0 before its
// exponent ("-0", "0.00", "0e7").
bool names_zero(std::string_view number) {
  const std::string_view digits = number.substr(0, number.find_first_of("eE"));
  return digits.find_first_of("123456789") == std::string_view::npos;
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
      if (const std::optional<std::string_view> number = written_number(value)) return !names_zero(*number);
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

Json filter_members(const Json& object, const std::function<bool(const Json& value)>& keep) {
  Json kept = Json::object();
  Json::object_t::Container& members = kept.get_ref<Json::object_t&>();
  for (const auto& member : object.get_ref<const Json::object_t&>()) {
    if (keep(member.second)) members.push_back(member);  // the keys of one object differ: no search needed
  }
  return kept;
}

const Json& member(const Json& obj, std::string_view key) {
  static const Json none;
  if (!obj.is_object()) return none;
  const auto it = obj.find(key);
  return it == obj.end() ? none : *it;
}

std::optional<std::string> text_member(const Json& obj, std::string_view key) {
  const Json& value = member(obj, key);
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

std::string get_text(const Json& obj, std::string_view key, std::string_view fallback) {
  const Json& value = member(obj, key);
  return value.is_string() ? value.get<std::string>() : std::string(fallback);
}

std::string to_json_line(const Json& value) { return write_json(value, kLineSpacing); }

std::string to_json_compact(const Json& value) { return write_json(value, kCompactSpacing); }

}  // namespace tamrik::core
