#include "platform/dashboard_session.hpp"

#include "core/sha256.hpp"
#include "platform/callers.hpp"

#include <algorithm>

namespace tamrik::platform {

DashboardSessions::Opened DashboardSessions::open(const std::string& authorization) {
  Opened opened{new_member_key(), Session{authorization, new_member_key()}};
  const auto now = std::chrono::steady_clock::now();
  const std::lock_guard lock(mutex_);
  make_room(now);
  held_[core::sha256_hex(opened.cookie_token)] = Held{opened.session, now + kSessionLifetime};
  return opened;
}

std::optional<Session> DashboardSessions::find(std::string_view cookie_token) {
  if (cookie_token.empty()) return std::nullopt;
  const std::string digest = core::sha256_hex(cookie_token);
  const std::lock_guard lock(mutex_);
  const auto found = held_.find(digest);
  if (found == held_.end()) return std::nullopt;
  if (found->second.expires <= std::chrono::steady_clock::now()) {
    held_.erase(found);
    return std::nullopt;
  }
  return found->second.session;
}

void DashboardSessions::close(std::string_view cookie_token) {
  const std::string digest = core::sha256_hex(cookie_token);
  const std::lock_guard lock(mutex_);
  held_.erase(digest);
}

void DashboardSessions::make_room(std::chrono::steady_clock::time_point now) {
  if (held_.size() < kMaxSessions) return;
  std::erase_if(held_, [now](const auto& entry) { return entry.second.expires <= now; });
  if (held_.size() < kMaxSessions) return;
  held_.erase(std::min_element(held_.begin(), held_.end(),
                               [](const auto& a, const auto& b) { return a.second.expires < b.second.expires; }));
}

std::string cookie_value(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t end = header.find(';');
    std::string_view pair = header.substr(0, end);
    while (pair.starts_with(' ')) pair.remove_prefix(1);
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
      return std::string(pair.substr(equals + 1));
    }
    header = end == std::string_view::npos ? std::string_view{} : header.substr(end + 1);
  }
  return "";
}

bool same_token(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace tamrik::platform
