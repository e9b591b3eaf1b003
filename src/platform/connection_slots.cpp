#include "platform/connection_slots.hpp"

namespace tamrik::platform {

ConnectionSlots::Taken ConnectionSlots::take(const std::string& client) {
  const std::lock_guard lock(mutex_);
  if (open_total_ >= total_) return Taken::server_full;
  size_t& held = open_[client];
  if (held >= per_client_) return Taken::client_full;
  ++held;
  ++open_total_;
  return Taken::yes;
}

void ConnectionSlots::give_back(const std::string& client) {
  const std::lock_guard lock(mutex_);
  const auto held = open_.find(client);
  if (held == open_.end()) return;
  --open_total_;
  if (--held->second == 0) open_.erase(held);
}

}  // namespace tamrik::platform
