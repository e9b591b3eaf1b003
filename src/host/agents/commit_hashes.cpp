#include "host/agents/commit_hashes.hpp"

#include <algorithm>
#include <array>

namespace tamrik::agents {

namespace {

constexpr std::array<signed char, 256> kHexValue = [] {
  std::array<signed char, 256> table{};
  table.fill(-1);
  for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - 'a' + 10);
  return table;
}();

bool is_hex(unsigned char c) { return kHexValue[c] >= 0; }

// The first `digits` hex digits of `text` as a number; text must hold them.
std::uint32_t leading_value(std::string_view text, std::size_t digits) {
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < digits; ++k) {
    value = (value << 4) | static_cast<std::uint32_t>(kHexValue[static_cast<unsigned char>(text[k])]);
  }
  return value;
}

bool is_hash_text(std::string_view text) {
  return text.size() >= kMinAbbrev && text.size() <= kMaxHashLength &&
         std::all_of(text.begin(), text.end(), [](char c) { return is_hex(static_cast<unsigned char>(c)); });
}

}  // namespace

HashIndex::HashIndex(const std::vector<std::string>& hashes) : first_digits_(1u << 10, 0) {
  hashes_.reserve(hashes.size());
  for (const std::string& hash : hashes) {
    std::string lower = hash;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c; });
    if (is_hash_text(lower)) {
      const std::uint32_t first4 = leading_value(lower, 4);
      first_digits_[first4 >> 6] |= std::uint64_t{1} << (first4 & 63);
      prefixes_.emplace_back(leading_value(lower, kMinAbbrev), hashes_.size());
    }
    hashes_.push_back(std::move(lower));
  }
  std::sort(prefixes_.begin(), prefixes_.end());
}

void HashIndex::match_run(std::string_view run, std::size_t offset, std::vector<HashMatch>& out) const {
  const std::uint32_t first4 = leading_value(run, 4);
  if ((first_digits_[first4 >> 6] & (std::uint64_t{1} << (first4 & 63))) == 0) return;
  const std::uint32_t key = leading_value(run, kMinAbbrev);
  auto it = std::lower_bound(prefixes_.begin(), prefixes_.end(), std::make_pair(key, std::size_t{0}));
  for (; it != prefixes_.end() && it->first == key; ++it) {
    const std::string& hash = hashes_[it->second];
    if (run.size() > hash.size() || hash.compare(0, run.size(), run) != 0) continue;
    out.push_back({.hash = it->second, .offset = offset, .length = run.size(), .full = run.size() == hash.size()});
  }
}

void HashIndex::find(std::string_view text, const std::function<std::size_t(const HashMatch&)>& on_match) const {
  if (prefixes_.empty()) return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::vector<HashMatch> matches;
  std::size_t floor = 0;  // no run starts before this
  std::size_t probe = kMinAbbrev - 1;
  while (probe < size) {
    if (!is_hex(bytes[probe])) {
      probe += kMinAbbrev;
      continue;
    }
    std::size_t begin = probe;
    while (begin > floor && is_hex(bytes[begin - 1])) --begin;
    std::size_t end = probe + 1;
    while (end < size && is_hex(bytes[end])) ++end;

    std::size_t resume = end;
    const std::size_t length = end - begin;
    if (length >= kMinAbbrev && length <= kMaxHashLength) {
      matches.clear();
      match_run(text.substr(begin, length), begin, matches);
      for (const HashMatch& match : matches) resume = std::max(resume, on_match(match));
    }
    floor = resume;
    // A run starting at `resume` or later covers this offset if it is long enough.
    probe = resume + kMinAbbrev - 1;
  }
}

bool in_commit_context(std::string_view text, const HashMatch& match) {
  const std::size_t after = match.offset + match.length;
  const bool summary = after < text.size() && text[after] == ']' && match.offset > 0 && text[match.offset - 1] == ' ';
  if (summary) return true;
  constexpr std::size_t kWord = 7;  // "commit "
  if (match.offset < kWord) return false;
  const std::string_view before = text.substr(match.offset - kWord, kWord);
  if (before != "commit " && before != "Commit ") return false;
  if (match.offset == kWord) return true;
  const char c = text[match.offset - kWord - 1];  // "commit", not "recommit"
  return !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
}

}  // namespace tamrik::agents
