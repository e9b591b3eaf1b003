#include "cli/mcp/protocol_stream.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tamrik::cli::mcp {

namespace {

bool write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// The copy is not inherited: a child left running must not hold the
// client's pipe open.
int take_protocol_stream() {
  const int protocol = ::fcntl(1, F_DUPFD_CLOEXEC, 0);
  if (protocol >= 0) ::dup2(2, 1);
  return protocol;
}

}  // namespace

ProtocolStream::ProtocolStream() : fd_(take_protocol_stream()) {}

ProtocolStream::~ProtocolStream() {
  if (fd_ >= 0) ::close(fd_);
}

bool ProtocolStream::send(const core::Json& message) {
  const std::string line = message.dump(-1, ' ', false, core::Json::error_handler_t::replace) + "\n";
  const std::lock_guard lock(mutex_);
  if (broken_) return false;
  if (!write_all(fd_, line)) broken_ = true;
  return !broken_;
}

}  // namespace tamrik::cli::mcp
