#include "platform/api_keys.hpp"
#include "core/text.hpp"

namespace tamrik::platform {

namespace {

bool same_secret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

bool starts_with_bearer(std::string_view header) {
  constexpr std::string_view kScheme = "bearer ";
  if (header.size() < kScheme.size()) return false;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    const char c = header[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    if (lower != kScheme[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string_view> bearer_key(std::string_view authorization) {
  if (!starts_with_bearer(authorization)) return std::nullopt;
  const std::string_view offered = core::trim(authorization.substr(7));
  if (offered.empty()) return std::nullopt;
  return offered;
}

ApiKeys::ApiKeys(const std::vector<std::string>& given, std::string_view env_list) {
  for (const std::string& key : given) {
    if (!core::trim(key).empty()) keys_.emplace_back(core::trim(key));
  }
  while (!env_list.empty()) {
    const auto comma = env_list.find(',');
    const std::string_view key = core::trim(env_list.substr(0, comma));
    if (!key.empty()) keys_.emplace_back(key);
    env_list = comma == std::string_view::npos ? std::string_view{} : env_list.substr(comma + 1);
  }
}

std::optional<size_t> ApiKeys::match(std::string_view authorization) const {
  const std::optional<std::string_view> offered = bearer_key(authorization);
  if (!offered) return std::nullopt;
  std::optional<size_t> matched;
  // Every key is compared, so the time taken does not tell which one matched.
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (same_secret(*offered, keys_[i]) && !matched) matched = i;
  }
  return matched;
}

std::optional<std::string> ApiKeys::member_of(std::string_view authorization) const {
  const std::optional<size_t> index = match(authorization);
  if (!index) return std::nullopt;
  return "key " + std::to_string(*index + 1);
}

}  // namespace tamrik::platform
