#include "platform/pg_pool.hpp"

namespace tamrik::platform::pg {

Pool::Pool(std::string uri, size_t bound, std::chrono::milliseconds wait)
    : uri_(std::move(uri)), bound_(bound), wait_(wait) {}

Pool::Lease Pool::lease() {
  std::unique_lock lock(mutex_);
  if (!freed_.wait_for(lock, wait_, [this] { return !idle_.empty() || open_ < bound_; })) {
    throw StorageUnavailable("all " + std::to_string(bound_) + " database connections stayed busy; try again");
  }
  if (!idle_.empty()) {
    std::unique_ptr<Connection> connection = std::move(idle_.back());
    idle_.pop_back();
    return Lease(*this, std::move(connection));
  }
  ++open_;
  lock.unlock();
  try {
    return Lease(*this, std::make_unique<Connection>(uri_));
  } catch (...) {
    lock.lock();
    --open_;
    freed_.notify_one();
    throw;
  }
}

void Pool::give_back(std::unique_ptr<Connection> connection) {
  std::vector<std::unique_ptr<Connection>> dropped;
  {
    const std::lock_guard lock(mutex_);
    if (connection->unusable()) {
      dropped = std::move(idle_);
      idle_.clear();
      open_ -= dropped.size() + 1;
      dropped.push_back(std::move(connection));
    } else {
      idle_.push_back(std::move(connection));
    }
  }
  freed_.notify_all();
  // Closed outside the lock: closing a connection may wait on the network.
}

}  // namespace tamrik::platform::pg
