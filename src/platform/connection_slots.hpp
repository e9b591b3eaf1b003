#pragma once
// The server's open connections, counted per client address and in all,
// against the bounds on each.

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace tamrik::platform {

class ConnectionSlots {
 public:
  ConnectionSlots(size_t per_client, size_t total) : per_client_(per_client), total_(total) {}

  enum class Taken { yes, client_full, server_full };

  // Takes a slot for a new connection from `client`, unless `client`
  // already holds its share or every slot is taken.
  Taken take(const std::string& client);
  // Gives back a slot `take` gave.
  void give_back(const std::string& client);

 private:
  const size_t per_client_;
  const size_t total_;
  std::mutex mutex_;
  std::map<std::string, size_t> open_;  // only clients holding a slot
  size_t open_total_ = 0;
};

}  // namespace tamrik::platform
