#pragma once
// The HTTP server with bounds a slow or hostile client cannot get around:
// each connection has a worker of its own and deadlines on every request
// (see DeadlineStream), a client address holds a bounded number of
// connections, and a connection past either bound is closed at once, on the
// accepting thread, without taking a worker.
//
// A port another server listens on is refused, never shared.
//
// An answer that says "Connection: close" ends its connection; the server
// says so itself whenever a request's body was not read to its end (an
// answer given before the body, say), so that the unread body is never
// taken for the next request.

#include "platform/connection_limits.hpp"
#include "platform/connection_slots.hpp"

#include <httplib.h>

#include <mutex>

namespace tamrik::platform {

class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const ConnectionLimits& limits);

  // stop() from another thread: never while the listening socket is being
  // set up, so it cannot be closed under the backlog's widening.
  void stop_listening();

 private:
  // Runs on the accepting thread: admits the connection to a worker or
  // closes it.
  bool process_and_close_socket(socket_t sock) override;
  // Runs on a worker: answers the connection's requests, then closes it.
  void serve(socket_t sock, const std::string& client);

  const ConnectionLimits limits_;
  ConnectionSlots slots_;
  // The workers of the listen in progress (owned by its task queue).
  httplib::ThreadPool* workers_ = nullptr;
  std::mutex listening_;  // between the backlog's widening and stop_listening()
};

}  // namespace tamrik::platform
