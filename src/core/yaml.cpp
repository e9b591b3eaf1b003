#include "core/yaml.hpp"

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <istream>
#include <map>
#include <optional>
#include <streambuf>
#include <vector>

#include "core/errors.hpp"
#include "core/json_tree_builder.hpp"
#include "core/process.hpp"
#include "core/quoted_text.hpp"
#include "core/yaml_scalar.hpp"

namespace tamrik::core {

namespace {

constexpr std::string_view kStandardTagPrefix = "tag:yaml.org,2002:";

// An input stream over the caller's text, without copying it.
class ViewStreambuf : public std::streambuf {
 public:
  explicit ViewStreambuf(std::string_view text) {
    char* begin = const_cast<char*>(text.data());  // read only: no put area, no putback writes
    setg(begin, begin, begin + text.size());
  }
};

std::string at(const YAML::Mark& mark, const std::string& message) {
  if (mark.is_null()) return message;
  return "line " + std::to_string(mark.line + 1) + ", column " + std::to_string(mark.column + 1) + ": " + message;
}

// "int" for the standard tag !!int (which yaml-cpp reports by its full
// name), "" for any other tag.
std::string_view standard_type(std::string_view tag) {
  return tag.starts_with(kStandardTagPrefix) ? tag.substr(kStandardTagPrefix.size()) : "";
}

// The tag as written in the text, for messages: "!!int", "!custom".
std::string written_tag(std::string_view tag) {
  const std::string_view type = standard_type(tag);
  return type.empty() ? std::string(tag) : "!!" + std::string(type);
}

// Whether `value` is of the YAML core type `type` ("null", "bool", "int",
// "float"); an int is a float too.
bool has_core_type(const Json& value, std::string_view type) {
  if (type == "null") return value.is_null();
  if (type == "bool") return value.is_boolean();
  if (type == "int") return value.is_number_integer();
  return value.is_number();
}

// The value of a scalar event. yaml-cpp tags plain scalars "?" and quoted,
// literal and folded ones "!". Of the explicit tags only the standard scalar
// ones are honoured; any other is refused, as a safe loader refuses to
// construct unknown types.
Json scalar_value(const YAML::Mark& mark, const std::string& tag, const std::string& text) {
  if (tag == "?") return resolve_plain_scalar(text);
  const std::string_view type = standard_type(tag);
  // A safe loader makes a date of !!timestamp; dates stay text here.
  if (tag == "!" || type == "str" || type == "timestamp") return text;
  if (type != "null" && type != "bool" && type != "int" && type != "float") {
    throw YAMLError(at(mark, "unsupported tag " + written_tag(tag)));
  }
  Json value = resolve_plain_scalar(text);
  if (!has_core_type(value, type)) throw YAMLError(at(mark, "not a valid " + written_tag(tag) + " value"));
  return type == "float" ? Json(value.get<double>()) : value;
}

void check_collection_tag(const YAML::Mark& mark, std::string_view tag, std::string_view expected) {
  if (tag != "?" && tag != "!" && standard_type(tag) != expected) {
    throw YAMLError(at(mark, "unsupported tag " + written_tag(tag)));
  }
}

// How big a value is: its lists, objects and scalars, and its nesting.
struct Shape {
  std::size_t nodes = 0;
  std::size_t depth = 0;
};

Shape shape_of(const Json& value) {
  Shape shape;
  std::vector<std::pair<const Json*, std::size_t>> pending{{&value, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    ++shape.nodes;
    if (!node->is_structured()) continue;
    shape.depth = std::max(shape.depth, depth + 1);
    for (const Json& child : *node) pending.emplace_back(&child, depth + 1);
  }
  return shape;
}

// What an alias may add to a document in all: copies of anchored values, so
// a chain of aliases of aliases cannot grow a small text into a huge value.
constexpr std::size_t kMaxAliasedNodes = 100'000;

// Builds the JSON value of one document straight from parser events, so no
// node graph is ever built. An alias inserts a copy of its anchor's value,
// counted against kMaxAliasedNodes; depth is bounded by the explicit stack,
// aliased values included.
class JsonBuilder : public YAML::EventHandler {
 public:
  Json take_result() { return tree_.take_result(); }
  const YAML::Mark& start() const { return start_; }

  void OnDocumentStart(const YAML::Mark& mark) override { start_ = mark; }
  void OnDocumentEnd() override {}

  void OnNull(const YAML::Mark& mark, YAML::anchor_t anchor) override { add_scalar(mark, nullptr, "null", anchor); }

  void OnAlias(const YAML::Mark& mark, YAML::anchor_t anchor) override {
    const auto found = anchored_.find(anchor);
    if (found == anchored_.end()) throw YAMLError(at(mark, "alias of an anchor not yet defined"));
    const Anchored& target = found->second;
    if (tree_.awaiting_key()) {
      if (target.value.is_structured())
        throw YAMLError(at(mark, "mapping keys must be scalars, not lists or mappings"));
      tree_.add_key(target.key_text);
      return;
    }
    aliased_nodes_ += target.shape.nodes;
    if (aliased_nodes_ > kMaxAliasedNodes) throw YAMLError(at(mark, "aliases expand to too large a document"));
    if (tree_.depth() + target.shape.depth > static_cast<std::size_t>(kMaxJsonDepth)) {
      throw YAMLError(at(mark, "YAML nested deeper than " + std::to_string(kMaxJsonDepth) + " levels"));
    }
    tree_.add_value(target.value);
  }

  void OnScalar(const YAML::Mark& mark, const std::string& tag, YAML::anchor_t anchor,
                const std::string& value) override {
    // The parser passes bytes through; values hold UTF-8 only, so what loads
    // is what the writers (which print U+FFFD for bad bytes) give back.
    const std::string text = decode_utf8_lossy(value);
    add_scalar(mark, scalar_value(mark, tag, text), text, anchor);
  }

  void OnSequenceStart(const YAML::Mark& mark, const std::string& tag, YAML::anchor_t anchor,
                       YAML::EmitterStyle::value /*style*/) override {
    check_collection_tag(mark, tag, "seq");
    check_can_open(mark);
    tree_.open_array();
    open_anchors_.push_back(anchor);
  }
  void OnSequenceEnd() override { close(); }

  void OnMapStart(const YAML::Mark& mark, const std::string& tag, YAML::anchor_t anchor,
                  YAML::EmitterStyle::value /*style*/) override {
    check_collection_tag(mark, tag, "map");
    check_can_open(mark);
    tree_.open_object();
    open_anchors_.push_back(anchor);
  }
  void OnMapEnd() override { close(); }

 private:
  struct Anchored {
    Json value;
    Shape shape;
    std::string key_text;  // what it reads as when an alias stands for a key
  };

  // A scalar is a key when a mapping waits for one; keys are taken as their
  // text ("1: a" has the key "1"), a null key as "null".
  void add_scalar(const YAML::Mark& mark, Json value, const std::string& text, YAML::anchor_t anchor) {
    if (tree_.awaiting_key()) {
      tree_.add_key(text);
      if (anchor != YAML::NullAnchor) remember(mark, anchor, Json(text), text);
      return;
    }
    tree_.add_value(std::move(value));
    if (anchor != YAML::NullAnchor) remember(mark, anchor, tree_.last_added(), text);
  }

  void close() {
    tree_.close();
    const YAML::anchor_t anchor = open_anchors_.back();
    open_anchors_.pop_back();
    if (anchor != YAML::NullAnchor) remember(YAML::Mark::null_mark(), anchor, tree_.last_added(), "");
  }

  // Keeps a copy of `value` under `anchor` for aliases further on; copies
  // count against the same budget as the aliases themselves.
  void remember(const YAML::Mark& mark, YAML::anchor_t anchor, const Json& value, const std::string& key_text) {
    const Shape shape = shape_of(value);
    aliased_nodes_ += shape.nodes;
    if (aliased_nodes_ > kMaxAliasedNodes) throw YAMLError(at(mark, "aliases expand to too large a document"));
    anchored_[anchor] = {value, shape, key_text};
  }

  void check_can_open(const YAML::Mark& mark) const {
    if (tree_.awaiting_key()) throw YAMLError(at(mark, "mapping keys must be scalars, not lists or mappings"));
    if (tree_.depth() >= static_cast<std::size_t>(kMaxJsonDepth)) {
      throw YAMLError(at(mark, "YAML nested deeper than " + std::to_string(kMaxJsonDepth) + " levels"));
    }
  }

  JsonTreeBuilder tree_{DuplicateKeys::keep_first};
  YAML::Mark start_;
  std::vector<YAML::anchor_t> open_anchors_;  // one per open list or mapping
  std::map<YAML::anchor_t, Anchored> anchored_;
  std::size_t aliased_nodes_ = 0;
};

// Notices that another document starts, and ignores its content.
class DocumentDetector : public YAML::EventHandler {
 public:
  const YAML::Mark& start() const { return start_; }

  void OnDocumentStart(const YAML::Mark& mark) override { start_ = mark; }
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
  void OnAlias(const YAML::Mark&, YAML::anchor_t) override {}
  void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t, const std::string&) override {}
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t, YAML::EmitterStyle::value) override {}
  void OnSequenceEnd() override {}
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t, YAML::EmitterStyle::value) override {}
  void OnMapEnd() override {}

 private:
  YAML::Mark start_;
};

// Loads the first document. The ones after it are refused, or, with
// `later` ignore, parsed (a syntax error anywhere still fails the load) and
// dropped. A document that does not start past the one before is an error:
// on some malformed text yaml-cpp reports empty documents forever without
// moving on (",\n" does).
Json load_document(std::istream& in, LaterDocuments later) {
  YAML::Parser parser(in);
  JsonBuilder builder;
  if (!parser.HandleNextDocument(builder)) return nullptr;
  int previous = builder.start().pos;
  for (DocumentDetector next; parser.HandleNextDocument(next); previous = next.start().pos) {
    if (next.start().pos <= previous) throw YAMLError(at(next.start(), "cannot parse this YAML"));
    if (later == LaterDocuments::refuse) {
      throw YAMLError(at(next.start(), "more than one YAML document (a second one starts here)"));
    }
  }
  return builder.take_result();
}

// ---- emitting ----

void append_text(std::string& out, const std::string& text) {
  if (needs_quotes(text)) {
    append_quoted(out, text, QuoteStyle::yaml);
  } else {
    out += text;
  }
}

void append_scalar(std::string& out, const Json& value) {
  switch (value.type()) {
    case Json::value_t::string:
      append_text(out, value.get_ref<const std::string&>());
      break;
    case Json::value_t::number_float:
      out += yaml_float_text(value.get<double>());
      break;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::boolean:
      out += value.dump();
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

bool is_block(const Json& value) { return value.is_structured() && !value.empty(); }

// YAML readers take an implicit key ("key: value") of at most 1024
// characters; a longer one goes in the explicit form "? key\n: value".
constexpr std::size_t kMaxImplicitKeyBytes = 1000;

// Writes a mapping key; the caller writes the ':' that follows, which the
// explicit form puts on the next line at `indent`.
void append_key(std::string& out, const std::string& key, std::size_t indent) {
  std::string text;
  append_text(text, key);
  if (text.size() <= kMaxImplicitKeyBytes) {
    out += text;
    return;
  }
  out += "? ";
  out += text;
  out += '\n';
  out.append(indent, ' ');
}

}  // namespace

Json load_yaml(std::string_view text, LaterDocuments later) {
  ViewStreambuf buffer(text);
  std::istream in(&buffer);
  try {
    return load_document(in, later);
  } catch (const YAML::Exception& e) {
    throw YAMLError("invalid YAML: " + at(e.mark, e.msg));
  }
}

// Block style, written with an explicit stack (no recursion, whatever the
// depth). Mappings are "key: value", a nested block goes on the next lines
// two spaces deeper ("key:\n  sub: 1", "key:\n  - a"); a list item that is
// itself a block starts on the item's own line ("- a: 1\n  b: 2",
// "- - x\n  - y").
std::string emit_yaml(const Json& value) {
  std::string out;
  if (!is_block(value)) {
    append_scalar(out, value);
    out += '\n';
    return out;
  }

  struct Frame {
    const Json* container;
    Json::const_iterator next;
    std::size_t indent;
  };
  std::vector<Frame> stack{{&value, value.begin(), 0}};
  bool continue_line = false;  // the next entry goes right after "- "
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.container->end()) {
      stack.pop_back();
      continue;
    }
    if (!continue_line) out.append(frame.indent, ' ');
    continue_line = false;

    const bool in_mapping = frame.container->is_object();
    if (in_mapping) {
      append_key(out, frame.next.key(), frame.indent);
      out += ':';
    } else {
      out += '-';
    }
    const Json& child = frame.next.value();
    ++frame.next;
    if (!is_block(child)) {
      out += ' ';
      append_scalar(out, child);
      out += '\n';
      continue;
    }
    if (in_mapping) {
      out += '\n';
    } else {
      out += ' ';
      continue_line = true;
    }
    const std::size_t indent = frame.indent + 2;
    stack.push_back({&child, child.begin(), indent});  // `frame` is not used after this
  }
  return out;
}

}  // namespace tamrik::core
