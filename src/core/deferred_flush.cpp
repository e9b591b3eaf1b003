#include "core/deferred_flush.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace tamrik::core {

namespace {

// The files kept, and the process keeping them: a child forked meanwhile
// (an upload, say) flushes its own writes at once.
struct Kept {
  pid_t owner = 0;
  std::vector<int> fds;
};
Kept unflushed;

// fsync(2), retried only when a signal interrupted it.
int fsync_retrying_eintr(int fd) {
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Flushes and closes every kept file; the number that failed.
int flush_kept() {
  int failed = 0;
  for (const int fd : unflushed.fds) {
    if (fsync_retrying_eintr(fd) != 0 && errno != EINVAL && errno != ENOTSUP) ++failed;
    ::close(fd);
  }
  unflushed.fds.clear();
  return failed;
}

}  // namespace

DeferredFlushes::DeferredFlushes() {
  if (unflushed.owner != 0) throw std::logic_error("flushes are already deferred");
  unflushed.owner = ::getpid();
}

DeferredFlushes::~DeferredFlushes() {
  if (unflushed.owner == 0) return;
  unflushed.owner = 0;
  flush_kept();
}

pid_t DeferredFlushes::hand_over() {
  unflushed.owner = 0;
  if (unflushed.fds.empty()) return 0;
  const pid_t child = ::fork();
  if (child == 0) {
    // Holds no pipe of whoever waits for the hook's output.
    for (int fd = 0; fd <= 2; ++fd) ::close(fd);
    ::_exit(flush_kept());
  }
  if (child < 0) {
    flush_kept();
    return 0;
  }
  for (const int fd : unflushed.fds) ::close(fd);
  unflushed.fds.clear();
  return child;
}

int flush_or_defer(int fd) {
  if (unflushed.owner == 0 || unflushed.owner != ::getpid()) return fsync_retrying_eintr(fd);
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) return fsync_retrying_eintr(fd);
  unflushed.fds.push_back(copy);
  return 0;
}

}  // namespace tamrik::core
