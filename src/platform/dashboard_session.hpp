#pragma once
// Who is signed in to the dashboard. A session is known by a random token
// in an HttpOnly cookie; the server holds only the token's SHA-256, in
// memory, with the key it was opened with (checked again on every page,
// so a revoked key ends its sessions) and its token against cross-site
// forms. Nothing of a session is written to the database, so a copy of
// the database opens none; a restart signs everyone out.

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tamrik::platform {

inline constexpr const char* kSessionCookie = "tamrik_session";
inline constexpr std::chrono::hours kSessionLifetime{12};
inline constexpr size_t kMaxSessions = 10'000;

struct Session {
  std::string authorization;  // "Bearer <key>", as the API reads it
  std::string form_token;     // sent back by every form the session posts
};

class DashboardSessions {
 public:
  struct Opened {
    std::string cookie_token;
    Session session;
  };
  // A new session for a key already accepted. At most kMaxSessions live at
  // once: when full, the one closest to expiring gives way.
  Opened open(const std::string& authorization);
  std::optional<Session> find(std::string_view cookie_token);
  void close(std::string_view cookie_token);

 private:
  struct Held {
    Session session;
    std::chrono::steady_clock::time_point expires;
  };
  void make_room(std::chrono::steady_clock::time_point now);

  std::mutex mutex_;
  std::unordered_map<std::string, Held> held_;  // by the token's SHA-256
};

// The value of cookie `name` in a Cookie header, "" when absent.
std::string cookie_value(std::string_view header, std::string_view name);

// Compares two tokens in time independent of where they differ.
bool same_token(std::string_view a, std::string_view b);

}  // namespace tamrik::platform
