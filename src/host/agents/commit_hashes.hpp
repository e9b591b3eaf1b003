#pragma once
// Finding commit hashes in raw transcript bytes, fast.
//
// A transcript names a commit by its full hash or by an abbreviation (git
// prints at least 7 hex digits). One pass finds every run of at least 7
// lower-case hex digits by probing every 7th byte: any such run covers a
// probed offset, and most probes land on a byte that is not hex and cost one
// table lookup. Each run found is looked up in a small index of the hashes
// searched for, so the cost does not grow with their number.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::agents {

// git never abbreviates below this.
inline constexpr std::size_t kMinAbbrev = 7;
// SHA-256 repositories; SHA-1 hashes have 40.
inline constexpr std::size_t kMaxHashLength = 64;

// A run of hex digits that is one of the searched hashes, or a prefix of one.
struct HashMatch {
  std::size_t hash = 0;    // index into HashIndex::hashes()
  std::size_t offset = 0;  // where the run starts in the searched text
  std::size_t length = 0;
  bool full = false;  // the whole hash, not an abbreviation
};

class HashIndex {
 public:
  // Hashes that are not 7 to 64 hex digits are kept (so indexes stay aligned
  // with the caller's list) but never match. Upper case is folded.
  explicit HashIndex(const std::vector<std::string>& hashes);

  const std::vector<std::string>& hashes() const { return hashes_; }

  // Calls `on_match` for each run in `text` matching a hash. Its result is
  // the offset to resume from: return match.offset + match.length to go on,
  // or more to skip ahead (for example to the end of the line).
  void find(std::string_view text, const std::function<std::size_t(const HashMatch&)>& on_match) const;

 private:
  void match_run(std::string_view run, std::size_t offset, std::vector<HashMatch>& out) const;

  std::vector<std::string> hashes_;  // lower-cased
  // (first 7 digits as a number, index) sorted, for prefix lookups
  std::vector<std::pair<std::uint32_t, std::size_t>> prefixes_;
  // one bit per value of the first 4 digits: most runs stop here
  std::vector<std::uint64_t> first_digits_;
};

// Whether the match is an abbreviation written the way git writes commits:
// git commit's summary "[main abc1234] subject", or "commit abc1234".
bool in_commit_context(std::string_view text, const HashMatch& match);

}  // namespace tamrik::agents
