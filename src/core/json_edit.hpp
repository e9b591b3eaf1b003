#pragma once
// Edits a JSON document as text: a member or element is found by its path
// and spliced in or out, so every byte outside it (escapes such as \u00e9,
// numbers such as 1.50, the layout of arrays, the final line break or its
// absence, CRLF) stays as the file had it. New text follows the file's own
// indentation, separators and line breaks. The document is checked by the
// JSON parser before and after every edit, so a valid file never turns
// invalid.

#include "core/json.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tamrik::core {

// A member's key or an element's index, from the root down.
using JsonStep = std::variant<std::string, std::size_t>;
using JsonPath = std::vector<JsonStep>;

class JsonTextEditor {
 public:
  // Throws JSONDecodeError when `text` is not JSON with an object at its
  // root.
  explicit JsonTextEditor(std::string text);

  const std::string& text() const { return text_; }

  // The value at `at`, parsed; nullopt when there is none (or a step on the
  // way is not a list or object of the right kind). Throws JSONDecodeError
  // for a key the path goes through that the object gives twice.
  std::optional<Json> get(const JsonPath& at) const;

  // Replaces the value at `at`, which must exist.
  void replace(const JsonPath& at, const Json& value);
  // Sets member `key` of the object at `object`: its value replaced when
  // present, else added as the object's last member.
  void set_member(const JsonPath& object, const std::string& key, const Json& value);
  // Adds `value` as the last element of the list at `array`.
  void append(const JsonPath& array, const Json& value);
  // Removes the member or element at `at` with the separator that joined
  // it; removing the last one leaves the container empty ("{}", "[]").
  // Nothing at `at`: nothing changes.
  void remove(const JsonPath& at);

 private:
  struct Item;
  struct Container;
  struct Layout;

  using Step = JsonStep;

  // The list or object at `at`; throws JSONDecodeError when there is none.
  Container container_at(const JsonPath& at) const;
  // The same; nullopt when there is none.
  std::optional<Container> find_container(const JsonPath& at) const;
  // Which of the container's items `step` names; throws JSONDecodeError
  // for a key the object gives twice.
  static std::optional<std::size_t> find_item(const Container& c, const Step& step);
  Layout layout_inside(const Container& container) const;
  void insert_item(const Container& container, const std::string& key, const Json& value);
  void splice(std::size_t begin, std::size_t end, const std::string& with);

  std::string text_;
};

}  // namespace tamrik::core
