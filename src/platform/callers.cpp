#include "platform/callers.hpp"

#include "core/sha256.hpp"

#include <sys/random.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace tamrik::platform {

namespace {

constexpr size_t kKeyBytes = 32;

}  // namespace

bool Caller::on_team(long long team_id) const { return std::binary_search(team_ids.begin(), team_ids.end(), team_id); }

std::optional<Caller> Callers::identify(std::string_view authorization) const {
  if (std::optional<std::string> label = given_.member_of(authorization)) {
    return Caller{std::move(*label), std::nullopt, {kDefaultTeamId}, true};
  }
  const std::optional<std::string_view> key = bearer_key(authorization);
  if (!key) return std::nullopt;
  // The digest of a random key tells nothing about the key, so looking it
  // up by index leaks nothing a guess could use.
  std::optional<Member> member = storage_.member_of_key(key_hash(*key));
  if (!member) return std::nullopt;
  return Caller{std::move(member->name), member->id, std::move(member->team_ids)};
}

std::string new_member_key() {
  unsigned char bytes[kKeyBytes];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    throw std::runtime_error("the system gave no random bytes for a key");
  }
  std::string key = "tamrik_";
  char hex[3];
  for (const unsigned char byte : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", byte);
    key += hex;
  }
  return key;
}

std::string key_hash(std::string_view key) { return core::sha256_hex(key); }

}  // namespace tamrik::platform
