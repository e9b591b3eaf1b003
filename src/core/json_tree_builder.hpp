#pragma once
// Builds one JSON value from a reader's events (open a list or an object, a
// key, a value, close), for the JSON and the YAML reader alike. The JSON
// library's own insert searches an object's members one by one for the key,
// which makes an object of n members cost n^2 comparisons; here a large
// object finds its keys through a hash index, so any object is built in
// linear time, in the order its members came.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
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

  // The value built, once every container is closed.
  Json take_result() { return std::move(result_); }

 private:
  // An object's members: the JSON library's object type is a vector of
  // key/value pairs, used here through the vector itself.
  using Members = Json::object_t::Container;

  // Positions of an object's members, hashed and compared by their keys, so
  // a key is looked up by its text without storing a copy of it. Holds the
  // object's member list by pointer: the JSON library keeps that list on the
  // heap, where it stays while the value that owns it is moved.
  struct KeyHash {
    using is_transparent = void;
    const Members* members;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
    std::size_t operator()(std::size_t position) const { return (*this)((*members)[position].first); }
  };
  struct KeyEqual {
    using is_transparent = void;
    const Members* members;
    std::string_view key(std::string_view text) const { return text; }
    std::string_view key(std::size_t position) const { return (*members)[position].first; }
    bool operator()(const auto& a, const auto& b) const { return key(a) == key(b); }
  };
  using MemberIndex = std::unordered_set<std::size_t, KeyHash, KeyEqual>;

  struct Frame {
    Json value;                        // the open list or object
    std::optional<std::string> key;    // in an object, the key awaiting its value
    std::optional<MemberIndex> index;  // once the object is too large to scan
  };

  std::size_t find_member(const Frame& frame, std::string_view key) const;
  void add_member(Frame& frame, std::string key, Json value);

  DuplicateKeys duplicates_;
  std::vector<Frame> stack_;
  Json result_;
};

}  // namespace tamrik::core
