#include "platform/guarded_server.hpp"

#include "platform/deadline_stream.hpp"
#include "platform/server_log.hpp"
#include "platform/socket_address.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tamrik::platform {

namespace {

using std::chrono::milliseconds;

// How long a connection ended by its answer goes on taking in what the
// client still sends, so that a client busy writing a body that was refused
// reads the answer rather than a reset.
constexpr milliseconds kLinger{2000};

// The server hands each accepted socket to its task queue as a task that
// calls process_and_close_socket. Running that task at once, on the
// accepting thread, lets the server refuse a connection before it takes a
// worker; the connections it admits go on to the workers this queue owns.
class AdmitAtOnce final : public httplib::TaskQueue {
 public:
  explicit AdmitAtOnce(size_t workers) : workers_(workers) {}
  void enqueue(std::function<void()> admit) override { admit(); }
  // Waits for the connections being served.
  void shutdown() override { workers_.shutdown(); }
  httplib::ThreadPool& workers() { return workers_; }

 private:
  httplib::ThreadPool workers_;
};

struct Connection {
  DeadlineStream stream;
  bool answer_closes = false;
};

// The connection this worker thread serves. The post-routing hook, called
// just before an answer is written, gets the request and the answer only;
// this is how it finds the connection the answer may end.
thread_local Connection* serving = nullptr;

void end_connection_when_out_of_step(const httplib::Request&, httplib::Response& res) {
  if (serving == nullptr) return;
  if (!serving->stream.in_step() && res.get_header_value("Connection") != "close") {
    res.set_header("Connection", "close");
  }
  serving->answer_closes = res.get_header_value("Connection") == "close";
}

// Ends the sending side, and takes in (and drops) what the client still
// sends until it closes too or the linger time is up.
void linger(int fd) {
  shutdown(fd, SHUT_WR);
  const auto until = DeadlineStream::Clock::now() + kLinger;
  char dropped[16384];
  while (true) {
    const auto left = std::chrono::ceil<milliseconds>(until - DeadlineStream::Clock::now());
    pollfd readable{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) return;
    if (recv(fd, dropped, sizeof dropped, MSG_DONTWAIT) <= 0) return;
  }
}

std::string refusal_line(const std::string& client, ConnectionSlots::Taken why, const ConnectionLimits& limits) {
  if (why == ConnectionSlots::Taken::client_full) {
    return "tamrik-platform: refused a connection from " + client + ": it holds " + std::to_string(limits.per_client) +
           " already (--max-connections-per-client)\n";
  }
  return "tamrik-platform: refused a connection from " + client + ": all " + std::to_string(limits.max_connections) +
         " connections are in use (--max-connections)\n";
}

// The library's default sets SO_REUSEPORT, which lets a second server bind
// a port in use and the kernel then shares its connections between the two
// (and their databases). SO_REUSEADDR alone still allows a restart while
// the last run's connections linger.
void own_the_port(socket_t sock) {
  const int yes = 1;
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace

GuardedServer::GuardedServer(const ConnectionLimits& limits)
    : limits_(limits), slots_(limits.per_client, limits.max_connections) {
  // Called as a listen starts, once the socket is bound.
  new_task_queue = [this] {
    // The library listens with a backlog of 5: a burst of connections past
    // it (slow clients among them) would leave a new client waiting a
    // second or more for the kernel to retry its connection.
    {
      const std::lock_guard lock(listening_);
      if (svr_sock_ != INVALID_SOCKET) ::listen(svr_sock_, SOMAXCONN);
    }
    auto* queue = new AdmitAtOnce(limits_.max_connections);
    workers_ = &queue->workers();
    return queue;
  };
  set_post_routing_handler(end_connection_when_out_of_step);
  set_socket_options(own_the_port);
}

void GuardedServer::stop_listening() {
  const std::lock_guard lock(listening_);
  stop();
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  const std::string client = peer_address(sock).ip;
  const ConnectionSlots::Taken taken = slots_.take(client);
  if (taken != ConnectionSlots::Taken::yes) {
    close(sock);
    log_line(refusal_line(client, taken, limits_));
    return false;
  }
  // A slot is a worker: with every worker busy no slot is free.
  workers_->enqueue([this, sock, client] {
    serve(sock, client);
    slots_.give_back(client);
  });
  return true;
}

void GuardedServer::serve(socket_t sock, const std::string& client) {
  const milliseconds write_timeout = std::chrono::duration_cast<milliseconds>(
      std::chrono::seconds(write_timeout_sec_) + std::chrono::microseconds(write_timeout_usec_));
  Connection connection{DeadlineStream(sock, limits_, write_timeout)};
  serving = &connection;
  size_t requests_left = keep_alive_max_count_;
  while (svr_sock_ != INVALID_SOCKET && requests_left > 0 &&
         connection.stream.next_request(std::chrono::seconds(keep_alive_timeout_sec_))) {
    bool client_closes = false;
    const bool answered =
        process_request(connection.stream, requests_left == 1, client_closes, [&connection](httplib::Request& req) {
          // A request without either header has no body; the parser would
          // otherwise read one until the client closes.
          if (!req.has_header("Content-Length") && !req.has_header("Transfer-Encoding")) {
            req.set_header("Content-Length", "0");
          }
          connection.stream.start_body(req);
        });
    if (!answered || client_closes || connection.answer_closes) break;
    --requests_left;
  }
  serving = nullptr;
  if (connection.stream.timed_out()) {
    log_line("tamrik-platform: cut off " + client + ": its request did not arrive in time (--header-timeout, " +
             "--body-min-rate)\n");
  } else if (connection.answer_closes) {
    linger(sock);
  }
  close(sock);
}

}  // namespace tamrik::platform
