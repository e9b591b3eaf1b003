#include "core/json_tree_builder.hpp"

#include <algorithm>
#include <numeric>

namespace tamrik::core {

namespace {

// Objects up to this size (every ledger line's, most payloads') are checked
// for a repeated key by comparing each pair of keys, which allocates nothing.
constexpr std::size_t kPairwiseMembers = 16;

bool has_repeated_key_pairwise(const Json::object_t::Container& members) {
  for (std::size_t i = 1; i < members.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (members[i].first == members[j].first) return true;
    }
  }
  return false;
}

}  // namespace

bool JsonTreeBuilder::awaiting_key() const {
  return !stack_.empty() && stack_.back().value.is_object() && !stack_.back().key.has_value();
}

void JsonTreeBuilder::open_array() { stack_.push_back({Json::array(), std::nullopt}); }

void JsonTreeBuilder::open_object() { stack_.push_back({Json::object(), std::nullopt}); }

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
  // The member list's own append, which searches nothing; close() settles
  // a repeated key.
  Members& members = top.value.get_ref<Json::object_t&>();
  members.emplace_back(std::move(*top.key), std::move(value));
  top.key.reset();
}

void JsonTreeBuilder::close() {
  Json finished = std::move(stack_.back().value);
  stack_.pop_back();
  if (finished.is_object()) settle_repeated_keys(finished.get_ref<Json::object_t&>());
  add_value(std::move(finished));
}

const Json& JsonTreeBuilder::last_added() const {
  if (stack_.empty()) return result_;
  const Json& top = stack_.back().value;
  return top.is_array() ? top.back() : top.get_ref<const Json::object_t&>().back().second;
}

void JsonTreeBuilder::settle_repeated_keys(Members& members) const {
  if (members.size() <= kPairwiseMembers && !has_repeated_key_pairwise(members)) return;

  // Positions ordered by key, and by position among equal keys: each run
  // of one key starts with the member where it first appeared.
  std::vector<std::size_t> order(members.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const int keys = members[a].first.compare(members[b].first);
    return keys != 0 ? keys < 0 : a < b;
  });
  std::vector<bool> dropped(members.size(), false);
  bool any_dropped = false;
  for (std::size_t run = 0, next = 1; run < order.size(); run = next++) {
    while (next < order.size() && members[order[next]].first == members[order[run]].first) {
      dropped[order[next++]] = true;
    }
    if (next - run == 1) continue;
    any_dropped = true;
    if (duplicates_ == DuplicateKeys::keep_last) {
      members[order[run]].second = std::move(members[order[next - 1]].second);
    }
  }
  if (!any_dropped) return;

  Members kept;
  kept.reserve(members.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (!dropped[i]) kept.emplace_back(members[i].first, std::move(members[i].second));
  }
  members.swap(kept);
}

}  // namespace tamrik::core
