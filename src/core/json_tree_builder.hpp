#pragma once
// Builds one JSON value from a reader's events (open a list or an object, a
// key, a value, close), for the JSON and the YAML reader alike. The JSON
// library's own insert searches an object's members one by one for the key,
// which makes an object of n members cost n^2 comparisons. Here members are
// appended as they come, and a key given twice is found when the object
// closes, by sorting: n log n whatever the keys are (a hash table would fall
// back to n^2 for keys crafted to collide).

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/json.hpp"

namespace tamrik::core {

// Which value a key given twice in one object keeps. Either way the member
// keeps the place where the key first appeared.
enum class DuplicateKeys { keep_first, keep_last };

class JsonTreeBuilder {
 public:
  explicit JsonTreeBuilder(DuplicateKeys duplicates) : duplicates_(duplicates) {}

  // Whether the innermost open container is an object waiting for a key.
  bool awaiting_key() const;
  // How many lists and objects are open.
  std::size_t depth() const { return stack_.size(); }

  void open_array();
  void open_object();
  // The key of the next value in the open object.
  void add_key(std::string key);
  // A value for the open list or object, or the whole result when nothing
  // is open.
  void add_value(Json value);
  // Closes the innermost open list or object and adds it as a value.
  void close();
  // The value the last add_value() or close() placed; valid until the next
  // call that changes the tree.
  const Json& last_added() const;

  // The value built, once every container is closed.
  Json take_result() { return std::move(result_); }

 private:
  // An object's members: the JSON library's object type is a vector of
  // key/value pairs, used here through the vector itself.
  using Members = Json::object_t::Container;

  struct Frame {
    Json value;                      // the open list or object
    std::optional<std::string> key;  // in an object, the key awaiting its value
  };

  // Leaves one member per key, where the key first appeared, holding the
  // value `duplicates_` asks for.
  void settle_repeated_keys(Members& members) const;

  DuplicateKeys duplicates_;
  std::vector<Frame> stack_;
  Json result_;
};

}  // namespace tamrik::core
