#include "host/fault_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace tamrik::testing {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// Waits up to 100 ms for `fd` to be readable.
bool readable_soon(int fd) {
  pollfd ready{fd, POLLIN, 0};
  return poll(&ready, 1, 100) > 0;
}

const char* reason_of(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 402:
      return "Payment Required";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 409:
      return "Conflict";
    case 413:
      return "Payload Too Large";
    case 422:
      return "Unprocessable Entity";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

}  // namespace

std::string ReceivedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (lower(key) == lower(name)) return value;
  }
  return "";
}

ReceivedRequest FaultConnection::read_request() {
  ReceivedRequest request;
  const auto fill = [&] {
    while (!stopping()) {
      if (!readable_soon(fd_)) continue;
      char chunk[65536];
      const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
      if (got <= 0) return false;
      buffered_.append(chunk, static_cast<size_t>(got));
      return true;
    }
    return false;
  };
  while (buffered_.find("\r\n\r\n") == std::string::npos) {
    if (!fill()) return request;
  }
  const size_t head_end = buffered_.find("\r\n\r\n");
  const std::string head = buffered_.substr(0, head_end);
  buffered_.erase(0, head_end + 4);

  size_t line_start = 0;
  bool first = true;
  while (line_start <= head.size()) {
    const size_t line_end = std::min(head.find("\r\n", line_start), head.size());
    const std::string_view line(head.data() + line_start, line_end - line_start);
    if (first) {
      const auto space = line.find(' ');
      request.method = std::string(line.substr(0, space));
      const auto target_end = line.find(' ', space + 1);
      request.target = std::string(line.substr(space + 1, target_end - space - 1));
      first = false;
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
      request.headers.emplace_back(std::string(trim(line.substr(0, colon))), std::string(trim(line.substr(colon + 1))));
    }
    line_start = line_end + 2;
  }
  const std::string length = request.header("Content-Length");
  const size_t wanted = length.empty() ? 0 : std::stoul(length);
  while (buffered_.size() < wanted) {
    if (!fill()) break;
  }
  request.body = buffered_.substr(0, wanted);
  buffered_.erase(0, std::min(wanted, buffered_.size()));
  server_.record(request);
  return request;
}

bool FaultConnection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void FaultConnection::respond(int status, std::string_view body, std::string_view extra_headers) {
  std::string response = "HTTP/1.1 " + std::to_string(status) + " " + reason_of(status) + "\r\n";
  response += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n";
  response += extra_headers;
  response += "\r\n";
  response += body;
  send(response);
}

void FaultConnection::reset() {
  const linger abort_on_close{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  close(fd_);
  fd_ = -1;
}

FaultConnection::~FaultConnection() {
  if (fd_ >= 0) close(fd_);
}

void FaultConnection::stall() {
  while (!stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

bool FaultConnection::stopping() const { return server_.stopping_; }

FaultServer::FaultServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 16) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("fault server: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

FaultServer::~FaultServer() {
  stopping_ = true;
  thread_.join();
  close(listen_fd_);
}

void FaultServer::serve() {
  while (!stopping_) {
    if (!readable_soon(listen_fd_)) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    FaultConnection connection(fd, *this);
    handler_(connection);
  }
}

void FaultServer::record(const ReceivedRequest& request) {
  const std::lock_guard lock(mutex_);
  requests_.push_back(request);
}

std::vector<ReceivedRequest> FaultServer::requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

FaultServer::Handler answer_with(int status, std::string body, std::string extra_headers) {
  return [status, body = std::move(body), extra_headers = std::move(extra_headers)](FaultConnection& connection) {
    connection.read_request();
    connection.respond(status, body, extra_headers);
  };
}

}  // namespace tamrik::testing
