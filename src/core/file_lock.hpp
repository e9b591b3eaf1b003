#pragma once
// Inter-process lock for a file that other processes rewrite or append to.
//
// `locked(path)` takes an exclusive kernel lock (flock) on a separate lock
// file, path + ".lock", never on the file itself: the file is replaced by
// rename, which would leave a lock on the old inode. The lock file is opened
// close-on-exec, so child processes (git) never inherit it, and the kernel
// frees it when the holder dies, so there is no stale lock to break.
//
// Re-entrant within a process: a nested locked() on the same path, from any
// thread, returns at once with the same outcome as the outer one. The lock
// is released when the outermost guard goes away.
//
// Bounded and fail-open: when the lock cannot be taken within `timeout` (or
// the file system refuses locks), the guard is returned anyway with
// acquired() false and a debug line logged; the caller decides what a block
// without the lock may safely do. refused() tells the two apart: where the
// file system refuses locks (ENOLCK on some network mounts) nobody holds
// one, so waiting or deferring would wait forever.

#include <chrono>
#include <filesystem>

namespace tamrik::core {

class LockGuard {
 public:
  LockGuard(LockGuard&& other) noexcept;
  LockGuard& operator=(LockGuard&&) = delete;
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
  ~LockGuard();

  // Whether this process holds the lock (taken now or by an outer guard).
  bool acquired() const { return acquired_; }
  // Whether the file system refused to lock at all (not a busy lock).
  bool refused() const { return refused_; }

 private:
  friend LockGuard locked(const std::filesystem::path&, std::chrono::milliseconds);
  LockGuard(std::filesystem::path key, bool acquired, bool refused)
      : key_(std::move(key)), acquired_(acquired), refused_(refused) {}

  std::filesystem::path key_;  // empty once moved from
  bool acquired_ = false;
  bool refused_ = false;
};

inline constexpr std::chrono::milliseconds kDefaultLockTimeout{10'000};

// Never throws for lock failures (they mean acquired() false); the lock
// file's directory must exist, else the guard is not acquired either.
[[nodiscard]] LockGuard locked(const std::filesystem::path& path,
                               std::chrono::milliseconds timeout = kDefaultLockTimeout);

}  // namespace tamrik::core
