#pragma once
// A client connection's socket as the HTTP parser reads and writes it, with
// deadlines a slow client cannot stretch. A timeout per receive would let a
// client sending one byte just before each timeout hold its connection (and
// a worker) for as long as it likes; here the request line and headers must
// arrive within a fixed time of their first byte, and a body at a minimum
// average rate.

#include "platform/connection_limits.hpp"

#include <httplib.h>

#include <array>
#include <chrono>
#include <optional>

namespace tamrik::platform {

class DeadlineStream final : public httplib::Stream {
 public:
  using Clock = std::chrono::steady_clock;

  DeadlineStream(int fd, const ConnectionLimits& limits, std::chrono::milliseconds write_timeout)
      : fd_(fd), limits_(limits), write_timeout_(write_timeout) {}

  // Waits up to `idle` for the first byte of the next request, then starts
  // the clock on its headers. False when nothing came.
  bool next_request(std::chrono::milliseconds idle);
  // Called once the headers are in: starts the clock on the body `req`
  // declares.
  void start_body(const httplib::Request& req);
  // Whether another request can follow on this connection: the body the
  // last one declared was read to its end (a chunked body's end is not
  // known here) and no deadline passed.
  bool in_step() const;
  bool timed_out() const { return timed_out_; }

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return fd_; }

 private:
  enum class Phase { idle, headers, body };

  Clock::time_point read_deadline() const;
  // Receives into `ptr` once the socket is readable, before the deadline.
  ssize_t receive(char* ptr, size_t size);

  const int fd_;
  const ConnectionLimits limits_;
  const std::chrono::milliseconds write_timeout_;
  Phase phase_ = Phase::idle;
  Clock::time_point phase_start_;
  std::optional<size_t> declared_body_;  // none when chunked or unreadable
  size_t body_read_ = 0;
  bool timed_out_ = false;
  // Headers are parsed a byte at a time; reads come from here.
  std::array<char, 16384> buffer_{};
  size_t buffer_begin_ = 0;
  size_t buffer_end_ = 0;
};

}  // namespace tamrik::platform
