#pragma once
// The API keys given to the server when it starts.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::platform {

// The key of an Authorization header value ("Bearer <key>", the scheme in
// any case, blanks around the key ignored); nullopt when there is none.
std::optional<std::string_view> bearer_key(std::string_view authorization);

class ApiKeys {
 public:
  // Keys given on the command line plus those in `env_list` (the value of
  // TAMRIK_PLATFORM_API_KEYS: comma-separated, blanks around keys ignored).
  ApiKeys(const std::vector<std::string>& given, std::string_view env_list);

  bool empty() const { return keys_.empty(); }
  size_t size() const { return keys_.size(); }

  // The member the key of an Authorization header value belongs to, when
  // it is one of these (compared in time independent of where a guess goes
  // wrong): each key is a member of its own,
  // labelled by its place among the keys ("key 1" for the first given).
  // nullopt when the key is not accepted.
  std::optional<std::string> member_of(std::string_view authorization) const;

 private:
  std::optional<size_t> match(std::string_view authorization) const;

  std::vector<std::string> keys_;
};

}  // namespace tamrik::platform
