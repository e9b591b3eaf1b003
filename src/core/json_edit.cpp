#include "core/json_edit.hpp"

#include "core/errors.hpp"

#include <algorithm>

namespace tamrik::core {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool is_valid_object(const std::string& text) {
  const std::optional<Json> parsed = parse_json(text);
  return parsed && parsed->is_object();
}

// The scanner below reads text the parser has accepted, so it only has to
// find where things end, never to judge them.
class Scanner {
 public:
  explicit Scanner(const std::string& text) : t_(text) {}

  size_t skip_blanks(size_t i) const {
    while (i < t_.size() && is_blank(t_[i])) ++i;
    return i;
  }

  // Just past the string starting at `i` (its opening quote).
  size_t string_end(size_t i) const {
    for (++i; i < t_.size() && t_[i] != '"'; ++i) {
      if (t_[i] == '\\') ++i;
    }
    return std::min(i + 1, t_.size());
  }

  // Just past the value starting at `i`.
  size_t value_end(size_t i) const {
    if (t_[i] == '"') return string_end(i);
    if (t_[i] == '{' || t_[i] == '[') {
      size_t depth = 0;
      for (; i < t_.size(); ++i) {
        const char c = t_[i];
        if (c == '"') {
          i = string_end(i) - 1;
        } else if (c == '{' || c == '[') {
          ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
          return i + 1;
        }
      }
      return t_.size();
    }
    while (i < t_.size() && !is_blank(t_[i]) && t_[i] != ',' && t_[i] != '}' && t_[i] != ']') ++i;
    return i;
  }

 private:
  const std::string& t_;
};

// The whitespace that starts the line holding byte `i`.
std::string line_indent(const std::string& text, size_t i) {
  const size_t start = text.rfind('\n', i == 0 ? 0 : i - 1);
  size_t from = start == std::string::npos ? 0 : start + 1;
  size_t to = from;
  while (to < text.size() && (text[to] == ' ' || text[to] == '\t')) ++to;
  return text.substr(from, to - from);
}

}  // namespace

struct JsonTextEditor::Item {
  std::string key;   // "" for an element of a list
  size_t begin = 0;  // the key's opening quote; the value's first byte in a list
  size_t key_end = 0;
  size_t value_begin = 0;
  size_t value_end = 0;
};

struct JsonTextEditor::Container {
  bool is_object = false;
  size_t open = 0;   // the opening bracket
  size_t close = 0;  // the closing bracket
  std::vector<Item> items;
};

struct JsonTextEditor::Layout {
  bool multiline = true;
  std::string gap;             // before a new item, after its comma
  std::string indent;          // of a new item's line
  std::string closing_indent;  // of the closing bracket's line, for an empty container
  std::string unit;            // one level of indentation
  std::string newline;
  std::string colon;  // between a key and its value
};

JsonTextEditor::JsonTextEditor(std::string text) : text_(std::move(text)) {
  if (!is_valid_object(text_)) throw JSONDecodeError("not a JSON object");
}

namespace {

size_t root_begin(const std::string& text) {
  size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  return Scanner(text).skip_blanks(i);
}

}  // namespace

JsonTextEditor::Container JsonTextEditor::container_at(const JsonPath& at) const {
  std::optional<Container> found = find_container(at);
  if (!found) throw JSONDecodeError("no list or object at the path");
  return std::move(*found);
}

std::optional<JsonTextEditor::Container> JsonTextEditor::find_container(const JsonPath& at) const {
  const Scanner scan(text_);
  size_t pos = root_begin(text_);
  auto scan_here = [&](size_t open) {
    Container c;
    c.is_object = text_[open] == '{';
    c.open = open;
    size_t i = scan.skip_blanks(open + 1);
    while (text_[i] != '}' && text_[i] != ']') {
      Item item;
      item.begin = i;
      if (c.is_object) {
        item.key_end = scan.string_end(i);
        item.key = parse_json(std::string_view(text_).substr(i, item.key_end - i)).value_or("").get<std::string>();
        i = scan.skip_blanks(scan.skip_blanks(item.key_end) + 1);
      } else {
        item.key_end = i;
      }
      item.value_begin = i;
      item.value_end = scan.value_end(i);
      c.items.push_back(std::move(item));
      i = scan.skip_blanks(c.items.back().value_end);
      if (text_[i] == ',') i = scan.skip_blanks(i + 1);
    }
    c.close = i;
    return c;
  };
  for (const Step& step : at) {
    if (text_[pos] != '{' && text_[pos] != '[') return std::nullopt;
    const Container c = scan_here(pos);
    const std::optional<size_t> found = find_item(c, step);
    if (!found) return std::nullopt;
    pos = c.items[*found].value_begin;
  }
  if (text_[pos] != '{' && text_[pos] != '[') return std::nullopt;
  return scan_here(pos);
}

std::optional<size_t> JsonTextEditor::find_item(const Container& c, const Step& step) {
  if (const std::size_t* index = std::get_if<std::size_t>(&step)) {
    return !c.is_object && *index < c.items.size() ? std::optional<size_t>(*index) : std::nullopt;
  }
  const std::string& key = std::get<std::string>(step);
  std::optional<size_t> found;
  for (size_t i = 0; c.is_object && i < c.items.size(); ++i) {
    if (c.items[i].key != key) continue;
    if (found) throw JSONDecodeError("the key \"" + key + "\" is given twice");
    found = i;
  }
  return found;
}

JsonTextEditor::Layout JsonTextEditor::layout_inside(const Container& c) const {
  Layout layout;
  layout.newline = text_.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  // One level: the first indented line's indentation.
  for (size_t nl = text_.find('\n'); nl != std::string::npos; nl = text_.find('\n', nl + 1)) {
    size_t end = nl + 1;
    while (end < text_.size() && (text_[end] == ' ' || text_[end] == '\t')) ++end;
    if (end > nl + 1 && end < text_.size() && !is_blank(text_[end])) {
      layout.unit = text_.substr(nl + 1, end - nl - 1);
      break;
    }
  }
  if (layout.unit.empty()) layout.unit = "  ";
  const Container root = container_at({});
  const Container& styled = c.is_object && !c.items.empty() ? c : root;
  layout.colon = styled.items.empty()
                     ? ": "
                     : text_.substr(styled.items[0].key_end, styled.items[0].value_begin - styled.items[0].key_end);
  if (!c.items.empty()) {
    const size_t before_last = c.items.size() > 1 ? c.items[c.items.size() - 2].value_end : c.open;
    const size_t separator = c.items.size() > 1 ? text_.find(',', before_last) : c.open;
    layout.gap = text_.substr(separator + 1, c.items.back().begin - separator - 1);
    const size_t nl = layout.gap.rfind('\n');
    layout.multiline = nl != std::string::npos;
    layout.indent = layout.multiline ? layout.gap.substr(nl + 1) : "";
    // A lone member on one line shows no gap between members: take the
    // colon's spacing.
    if (!layout.multiline && c.items.size() == 1) layout.gap = layout.colon.ends_with(' ') ? " " : "";
    return layout;
  }
  // An empty container spreads over lines unless the whole document is one
  // line of members.
  layout.multiline = root.items.empty() || text_.find('\n', root.open) < root.close;
  layout.closing_indent = line_indent(text_, c.open);
  layout.indent = layout.closing_indent + layout.unit;
  return layout;
}

namespace {

std::string render(const Json& value, const std::string& indent, const std::string& unit, const std::string& newline,
                   const std::string& colon, bool multiline) {
  if (!value.is_structured() || value.empty()) return value.dump();
  // Objects spread over lines as the file's do; a list only when it holds
  // lists or objects (["mcp"] stays on its line).
  const bool has_containers = std::any_of(value.begin(), value.end(), [](const Json& v) { return v.is_structured(); });
  const bool spread = multiline && (value.is_object() || has_containers);
  const std::string comma = colon.ends_with(' ') ? ", " : ",";
  std::string out(1, value.is_object() ? '{' : '[');
  bool first = true;
  for (auto it = value.begin(); it != value.end(); ++it) {
    out += first ? "" : (spread ? "," : comma);
    first = false;
    if (spread) out += newline + indent + unit;
    if (value.is_object()) out += Json(it.key()).dump() + colon;
    out += render(*it, indent + unit, unit, newline, colon, multiline);
  }
  if (spread) out += newline + indent;
  out += value.is_object() ? '}' : ']';
  return out;
}

}  // namespace

void JsonTextEditor::insert_item(const Container& c, const std::string& key, const Json& value) {
  const Layout l = layout_inside(c);
  const std::string item = (c.is_object ? Json(key).dump() + l.colon : "") +
                           render(value, l.indent, l.unit, l.newline, l.colon, l.multiline);
  if (!c.items.empty()) {
    splice(c.items.back().value_end, c.items.back().value_end, "," + l.gap + item);
  } else if (l.multiline) {
    splice(c.open + 1, c.close, l.newline + l.indent + item + l.newline + l.closing_indent);
  } else {
    splice(c.open + 1, c.close, item);
  }
}

std::optional<Json> JsonTextEditor::get(const JsonPath& at) const {
  if (at.empty()) return parse_json(text_);
  const std::optional<Container> c = find_container(JsonPath(at.begin(), at.end() - 1));
  if (!c) return std::nullopt;
  const std::optional<size_t> found = find_item(*c, at.back());
  if (!found) return std::nullopt;
  const Item& item = c->items[*found];
  return parse_json(std::string_view(text_).substr(item.value_begin, item.value_end - item.value_begin));
}

void JsonTextEditor::replace(const JsonPath& at, const Json& value) {
  const Container c = container_at(JsonPath(at.begin(), at.end() - 1));
  const std::optional<size_t> found = find_item(c, at.back());
  if (!found) throw JSONDecodeError("nothing to replace at the path");
  const Layout l = layout_inside(c);
  const Item& item = c.items[*found];
  const std::string indent = line_indent(text_, item.value_begin);
  splice(item.value_begin, item.value_end, render(value, indent, l.unit, l.newline, l.colon, l.multiline));
}

void JsonTextEditor::set_member(const JsonPath& object, const std::string& key, const Json& value) {
  const Container c = container_at(object);
  if (!c.is_object) throw JSONDecodeError("not an object at the path");
  JsonPath member = object;
  member.emplace_back(key);
  if (find_item(c, key)) {
    replace(member, value);
  } else {
    insert_item(c, key, value);
  }
}

void JsonTextEditor::append(const JsonPath& array, const Json& value) {
  const Container c = container_at(array);
  if (c.is_object) throw JSONDecodeError("not a list at the path");
  insert_item(c, "", value);
}

void JsonTextEditor::remove(const JsonPath& at) {
  if (at.empty() || !get(at)) return;
  const Container c = container_at(JsonPath(at.begin(), at.end() - 1));
  const size_t i = *find_item(c, at.back());
  if (c.items.size() == 1) {
    splice(c.open + 1, c.close, "");
  } else if (i > 0) {
    splice(c.items[i - 1].value_end, c.items[i].value_end, "");
  } else {
    splice(c.items[0].begin, c.items[1].begin, "");
  }
}

void JsonTextEditor::splice(size_t begin, size_t end, const std::string& with) {
  std::string edited = text_.substr(0, begin) + with + text_.substr(end);
  if (!is_valid_object(edited)) throw JSONDecodeError("the edit would leave invalid JSON; the file is left as it is");
  text_ = std::move(edited);
}

}  // namespace tamrik::core
