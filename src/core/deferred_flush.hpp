#pragma once
// Flushes to disk that a hook leaves to a child it does not wait for.
//
// git waits for its post-commit and post-rewrite hooks, and the person for
// git. A hook's writes are whole for every reader the moment they are made
// (the page cache holds them); only their way to the disk can wait. git
// itself hardens no loose object by default, so the commit being recorded
// is no more durable than its record handed over this way.

#include <sys/types.h>

#include <vector>

namespace tamrik::core {

// While one is alive, each flush this process asks for (Durability::flush
// in file_io) is kept, in order, instead of made. One at a time.
class DeferredFlushes {
 public:
  DeferredFlushes();
  ~DeferredFlushes();  // flushes what is still kept, here
  DeferredFlushes(const DeferredFlushes&) = delete;
  DeferredFlushes& operator=(const DeferredFlushes&) = delete;

  // Ends the deferring and forks a child that flushes every kept file in
  // the order asked, then exits with the number of flushes that failed.
  // Returns its pid (for tests to wait for), or 0 when nothing was kept or
  // the fork failed (then the flushes are made here).
  pid_t hand_over();
};

// fsync(2) of `fd` now, or a duplicate of it kept for the deferred flush.
// 0, or -1 with errno set, as fsync.
int flush_or_defer(int fd);

}  // namespace tamrik::core
