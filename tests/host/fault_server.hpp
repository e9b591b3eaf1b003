#pragma once
// A misbehaving HTTP server on 127.0.0.1 for client tests: each accepted
// connection is handed to a test-written handler that may answer anything,
// stall, or reset the connection. Connections are served one at a time on a
// background thread.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tamrik::testing {

struct ReceivedRequest {
  std::string method;
  std::string target;  // path and query
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The header's value (name case ignored), or "" when absent.
  std::string header(std::string_view name) const;
};

class FaultServer;

class FaultConnection {
 public:
  FaultConnection(int fd, FaultServer& server) : fd_(fd), server_(server) {}
  ~FaultConnection();
  FaultConnection(const FaultConnection&) = delete;
  FaultConnection& operator=(const FaultConnection&) = delete;

  // Reads one request (headers, then a Content-Length body).
  ReceivedRequest read_request();
  // Sends bytes; false once the peer is gone.
  bool send(std::string_view bytes);
  // A complete response with Content-Length, closing the connection after.
  void respond(int status, std::string_view body, std::string_view extra_headers = "");
  // Closes with a TCP reset instead of an orderly close.
  void reset();
  // Holds the connection open, silent, until the server stops.
  void stall();
  bool stopping() const;

 private:
  int fd_;
  FaultServer& server_;
  std::string buffered_;
};

class FaultServer {
 public:
  using Handler = std::function<void(FaultConnection&)>;

  explicit FaultServer(Handler handler);
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int connections() const { return connections_; }
  // Requests read by handlers so far.
  std::vector<ReceivedRequest> requests() const;

 private:
  friend class FaultConnection;
  void serve();
  void record(const ReceivedRequest& request);

  Handler handler_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
  std::thread thread_;
};

// A handler answering every connection with `status` and `body`.
FaultServer::Handler answer_with(int status, std::string body, std::string extra_headers = "");

}  // namespace tamrik::testing
