#include "platform/admin_commands.hpp"

#include "platform/callers.hpp"
#include "platform/storage.hpp"

#include <charconv>
#include <cstdio>
#include <functional>

namespace tamrik::platform {

namespace {

// Opens the database and runs `work` on it, reporting any failure.
int with_storage(const std::string& db, const std::function<int(Storage&)>& work) {
  try {
    const std::unique_ptr<Storage> storage = open_storage(db);
    return work(*storage);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tamrik-platform: %s\n", e.what());
    return 1;
  }
}

std::optional<long long> key_id(const std::string& text) {
  long long id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return id;
}

}  // namespace

int add_team_command(const std::string& db, const std::string& name) {
  return with_storage(db, [&](Storage& storage) {
    std::printf("added team %lld: %s\n", storage.add_team(name), name.c_str());
    return 0;
  });
}

int add_member_command(const std::string& db, const std::string& name, const std::vector<long long>& team_ids) {
  return with_storage(db, [&](Storage& storage) {
    std::printf("added member %lld: %s\n", storage.add_member(name, team_ids), name.c_str());
    return 0;
  });
}

int add_key_command(const std::string& db, long long member_id) {
  return with_storage(db, [&](Storage& storage) {
    const std::string key = new_member_key();
    const long long id = storage.add_key(member_id, key_hash(key));
    std::printf("added key %lld for member %lld; it is shown this once, give it to the member now:\n%s\n", id,
                member_id, key.c_str());
    return 0;
  });
}

int revoke_key_command(const std::string& db, const std::string& key_or_id) {
  return with_storage(db, [&](Storage& storage) {
    const std::optional<long long> id = key_id(key_or_id);
    if (!(id ? storage.revoke_key_id(*id) : storage.revoke_key(key_hash(key_or_id)))) {
      std::fputs("tamrik-platform: no such key; pass the key itself or the id `keys add` printed\n", stderr);
      return 1;
    }
    std::puts("revoked the key; requests with it are refused from now on");
    return 0;
  });
}

}  // namespace tamrik::platform
