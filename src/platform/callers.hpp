#pragma once
// Who a request comes from: the member its API key belongs to and the
// teams whose projects that member may read and change.

#include "platform/api_keys.hpp"
#include "platform/storage.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::platform {

struct Caller {
  std::string member;                  // the member's name, or "key N" for a key given to serve
  std::optional<long long> member_id;  // members stored in the database only
  std::vector<long long> team_ids;     // ascending
  // The keys given to serve, as when the platform had one team: a team id
  // they name on resolve is accepted and changes nothing.
  bool ignores_team_id = false;

  bool on_team(long long team_id) const;
};

class Callers {
 public:
  // The keys given to `serve` are members of the default team; every other
  // key is looked up, hashed, among the members' keys in `storage`. Both
  // must outlive this.
  Callers(const ApiKeys& given, Storage& storage) : given_(given), storage_(storage) {}

  // The caller an Authorization header value names; nullopt when its key
  // is not accepted. Throws StorageUnavailable when the database is away.
  std::optional<Caller> identify(std::string_view authorization) const;

 private:
  const ApiKeys& given_;
  Storage& storage_;
};

// A new random member key, and the digest under which it is stored.
std::string new_member_key();
std::string key_hash(std::string_view key);

}  // namespace tamrik::platform
