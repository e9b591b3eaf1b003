#pragma once
// The PostgreSQL connections of one server process: at most `bound` open at
// once, reused between requests. A request waits a while for a free one,
// then gets StorageUnavailable; a connection found lost is dropped with
// every idle one (a restarted database has lost them all), and the next
// lease connects afresh.

#include "platform/pg_connection.hpp"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace tamrik::platform::pg {

class Pool {
 public:
  Pool(std::string uri, size_t bound, std::chrono::milliseconds wait);

  class Lease {
   public:
    Lease(Pool& pool, std::unique_ptr<Connection> connection) : pool_(pool), connection_(std::move(connection)) {}
    ~Lease() { pool_.give_back(std::move(connection_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Connection& operator*() const { return *connection_; }
    Connection* operator->() const { return connection_.get(); }

   private:
    Pool& pool_;
    std::unique_ptr<Connection> connection_;
  };

  Lease lease();

 private:
  void give_back(std::unique_ptr<Connection> connection);

  const std::string uri_;
  const size_t bound_;
  const std::chrono::milliseconds wait_;
  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<std::unique_ptr<Connection>> idle_;
  size_t open_ = 0;  // idle or leased
};

}  // namespace tamrik::platform::pg
