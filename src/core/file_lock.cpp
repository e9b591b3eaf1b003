#include "core/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/log.hpp"

namespace tamrik::core {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const Logger& lock_log() {
  static const Logger logger("filelock");
  return logger;
}

// One lock file this process holds, or is taking, or failed to take.
struct Holding {
  int fd = -1;           // the locked lock file; -1 when not acquired
  int users = 0;         // live guards, plus threads waiting for the outcome
  bool settled = false;  // the first caller has finished trying
  bool acquired = false;
  bool refused = false;  // the file system will not lock this file
};

// The process-wide table that makes locked() re-entrant.
class HeldLocks {
 public:
  std::mutex mutex;
  std::condition_variable settled;

  // Call with `mutex` held. A child made by fork() inherits the parent's
  // entries, but not its ownership of the locks: it starts afresh. Closing
  // the inherited descriptors leaves the parent's locks in place.
  std::map<fs::path, Holding>& entries() {
    if (const pid_t pid = ::getpid(); pid != owner_) {
      for (auto& [key, holding] : entries_) {
        if (holding.fd >= 0) ::close(holding.fd);
      }
      entries_.clear();
      owner_ = pid;
    }
    return entries_;
  }

 private:
  pid_t owner_ = ::getpid();
  std::map<fs::path, Holding> entries_;
};

HeldLocks& held_locks() {
  static HeldLocks table;
  return table;
}

// The lock file's path, absolute and normal so that every spelling of one
// path shares one table entry.
fs::path lock_file_for(const fs::path& path) {
  fs::path lock_path = path;
  lock_path += ".lock";
  std::error_code ec;
  fs::path absolute = fs::absolute(lock_path, ec);
  return (ec ? lock_path : absolute).lexically_normal();
}

std::string millis_text(std::chrono::milliseconds timeout) { return std::to_string(timeout.count()); }

struct Taken {
  int fd = -1;  // the locked descriptor, or -1 when the lock was not taken
  bool refused = false;
};

// Takes the kernel lock within `timeout`, polling so the wait stays bounded.
Taken take_lock(const fs::path& lock_path, std::chrono::milliseconds timeout) {
  UniqueFd fd;
  try {
    // Read-only is enough for flock, and works on a lock file we cannot write.
    fd = open_file(lock_path, O_RDONLY | O_CREAT, 0644);
  } catch (const OSError& error) {
    lock_log().debug("cannot open lock file %r; continuing without the lock", {lock_path.string()}, error);
    return {};
  }
  const auto deadline = Clock::now() + timeout;
  Clock::duration pause = 200us;
  for (;;) {
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return {.fd = fd.release()};
    const int error = errno;
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK) {
      // ENOLCK, EOPNOTSUPP: this file system will not lock; waiting cannot help.
      lock_log().debug("lock %r refused (%s); continuing without the lock", {lock_path.string(), std::strerror(error)});
      return {.refused = true};
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      lock_log().debug("lock %r not acquired within %s ms; continuing without the lock",
                       {lock_path.string(), millis_text(timeout)});
      return {};
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min<Clock::duration>(pause * 2, 10ms);
  }
}

}  // namespace

LockGuard::LockGuard(LockGuard&& other) noexcept
    : key_(std::move(other.key_)), acquired_(other.acquired_), refused_(other.refused_) {
  other.key_.clear();
}

LockGuard::~LockGuard() {
  if (key_.empty()) return;
  HeldLocks& held = held_locks();
  const std::lock_guard lock(held.mutex);
  auto& entries = held.entries();
  const auto it = entries.find(key_);
  if (it == entries.end()) return;  // a guard inherited across fork()
  if (--it->second.users > 0) return;
  if (const int fd = it->second.fd; fd >= 0) {
    // Unlock before closing: a fork()ed copy of the descriptor must not keep it.
    ::flock(fd, LOCK_UN);
    ::close(fd);
  }
  entries.erase(it);
}

LockGuard locked(const fs::path& path, std::chrono::milliseconds timeout) {
  timeout = std::max(timeout, 0ms);
  fs::path key = lock_file_for(path);
  HeldLocks& held = held_locks();
  std::unique_lock lock(held.mutex);
  auto& entries = held.entries();
  const auto [it, first] = entries.try_emplace(key);
  Holding& holding = it->second;  // map entries stay put while others are added
  ++holding.users;

  if (!first) {
    // Held (or being taken) by this process already: share its outcome.
    if (!held.settled.wait_for(lock, timeout, [&] { return holding.settled; })) {
      --holding.users;  // the thread taking it holds a use, so the entry stays
      lock_log().debug("lock %r still being taken by another thread after %s ms; continuing without it",
                       {key.string(), millis_text(timeout)});
      return LockGuard({}, false, false);
    }
    return LockGuard(std::move(key), holding.acquired, holding.refused);
  }

  lock.unlock();
  const Taken taken = take_lock(key, timeout);
  lock.lock();
  holding.fd = taken.fd;
  holding.acquired = taken.fd >= 0;
  holding.refused = taken.refused;
  holding.settled = true;
  held.settled.notify_all();
  return LockGuard(std::move(key), holding.acquired, holding.refused);
}

}  // namespace tamrik::core
