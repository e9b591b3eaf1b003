#include "core/json_tree_builder.hpp"

namespace tamrik::core {

namespace {

// Up to this many members a key is found by comparing it with each one,
// which for the small objects of every ledger line and payload is cheaper
// than hashing.
constexpr std::size_t kScannedMembers = 16;

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

}  // namespace

bool JsonTreeBuilder::awaiting_key() const {
  return !stack_.empty() && stack_.back().value.is_object() && !stack_.back().key.has_value();
}

void JsonTreeBuilder::open_array() { stack_.push_back({Json::array(), std::nullopt, std::nullopt}); }

void JsonTreeBuilder::open_object() { stack_.push_back({Json::object(), std::nullopt, std::nullopt}); }

void JsonTreeBuilder::add_key(std::string key) { stack_.back().key = std::move(key); }

void JsonTreeBuilder::add_value(Json value) {
  if (stack_.empty()) {
    result_ = std::move(value);
    return;
  }
  Frame& top = stack_.back();
  if (top.value.is_array()) {
    top.value.push_back(std::move(value));
    return;
  }
  std::string key = std::move(*top.key);
  top.key.reset();
  add_member(top, std::move(key), std::move(value));
}

void JsonTreeBuilder::close() {
  Json finished = std::move(stack_.back().value);
  stack_.pop_back();
  add_value(std::move(finished));
}

std::size_t JsonTreeBuilder::find_member(const Frame& frame, std::string_view key) const {
  if (frame.index) {
    const auto found = frame.index->find(key);
    return found == frame.index->end() ? kNotFound : *found;
  }
  const Members& members = frame.value.get_ref<const Json::object_t&>();
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (members[i].first == key) return i;
  }
  return kNotFound;
}

void JsonTreeBuilder::add_member(Frame& frame, std::string key, Json value) {
  Members& members = frame.value.get_ref<Json::object_t&>();
  if (const std::size_t existing = find_member(frame, key); existing != kNotFound) {
    if (duplicates_ == DuplicateKeys::keep_last) members[existing].second = std::move(value);
    return;
  }
  // The member list's own append: the key is known to be new.
  members.emplace_back(std::move(key), std::move(value));
  if (frame.index) {
    frame.index->insert(members.size() - 1);
  } else if (members.size() > kScannedMembers) {
    frame.index.emplace(members.size() * 2, KeyHash{&members}, KeyEqual{&members});
    for (std::size_t i = 0; i < members.size(); ++i) frame.index->insert(i);
  }
}

}  // namespace tamrik::core
