#include "platform/deadline_stream.hpp"

#include "platform/body_length.hpp"
#include "platform/socket_address.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tamrik::platform {

namespace {

using std::chrono::milliseconds;

// Whether `fd` becomes ready for `events` before `deadline`.
bool ready_before(int fd, short events, DeadlineStream::Clock::time_point deadline) {
  while (true) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - DeadlineStream::Clock::now());
    if (left.count() <= 0) return false;
    pollfd wanted{fd, events, 0};
    const int ready = poll(&wanted, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

bool DeadlineStream::next_request(milliseconds idle) {
  if (buffer_begin_ == buffer_end_ && !ready_before(fd_, POLLIN, Clock::now() + idle)) return false;
  phase_ = Phase::headers;
  phase_start_ = Clock::now();
  return true;
}

void DeadlineStream::start_body(const httplib::Request& req) {
  phase_ = Phase::body;
  phase_start_ = Clock::now();
  declared_body_ = declared_body_length(req);
  body_read_ = 0;
}

bool DeadlineStream::in_step() const {
  return !timed_out_ && phase_ == Phase::body && declared_body_ && body_read_ >= *declared_body_;
}

DeadlineStream::Clock::time_point DeadlineStream::read_deadline() const {
  const Clock::time_point grace_ends = phase_start_ + limits_.header_time;
  if (phase_ != Phase::body) return grace_ends;
  // Each byte read earns the time it takes at the minimum rate.
  return grace_ends + milliseconds(body_read_ * 1000 / limits_.body_min_rate);
}

ssize_t DeadlineStream::receive(char* ptr, size_t size) {
  while (true) {
    if (!ready_before(fd_, POLLIN, read_deadline())) {
      timed_out_ = true;
      return -1;
    }
    const ssize_t got = recv(fd_, ptr, size, MSG_DONTWAIT);
    if (got >= 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return got;
  }
}

ssize_t DeadlineStream::read(char* ptr, size_t size) {
  if (buffer_begin_ == buffer_end_) {
    const ssize_t got = receive(buffer_.data(), buffer_.size());
    if (got <= 0) return got;
    buffer_begin_ = 0;
    buffer_end_ = static_cast<size_t>(got);
  }
  const size_t count = std::min(size, buffer_end_ - buffer_begin_);
  std::memcpy(ptr, buffer_.data() + buffer_begin_, count);
  buffer_begin_ += count;
  if (phase_ == Phase::body) body_read_ += count;
  return static_cast<ssize_t>(count);
}

ssize_t DeadlineStream::write(const char* ptr, size_t size) {
  while (true) {
    if (!ready_before(fd_, POLLOUT, Clock::now() + write_timeout_)) return -1;
    const ssize_t sent = send(fd_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return sent;
  }
}

bool DeadlineStream::is_readable() const {
  return buffer_begin_ < buffer_end_ || ready_before(fd_, POLLIN, read_deadline());
}

bool DeadlineStream::is_writable() const { return ready_before(fd_, POLLOUT, Clock::now() + write_timeout_); }

void DeadlineStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  const SocketAddress peer = peer_address(fd_);
  ip = peer.ip;
  port = peer.port;
}

void DeadlineStream::get_local_ip_and_port(std::string& ip, int& port) const {
  const SocketAddress local = local_address(fd_);
  ip = local.ip;
  port = local.port;
}

}  // namespace tamrik::platform
