#pragma once
// How far a reader of the ledger got, kept beside a cache of what it read
// so that a later reader can tell whether the ledger still begins with the
// same bytes: the file (device, inode), the offset read to, the file's
// modification time, and a hash of the bytes just before the offset. Every
// whole-ledger rewrite makes a new file, so an append keeps a mark and a
// rewrite ends it.

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace tamrik::synccore::detail {

struct LedgerMark {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  size_t offset = 0;
  long long mtime = 0;  // nanoseconds
  std::string tail;     // hex SHA-256 of at most 4 KB before `offset`

  // The mark of the file open as `fd` at `offset`; an empty tail when the
  // bytes cannot be read.
  static LedgerMark of(int fd, size_t offset);

  // Whether the file open as `fd` (status `st`) is the one marked and still
  // holds the marked bytes: an append keeps the mark, a rewrite of the same
  // size does not.
  bool still_holds(int fd, const struct stat& st) const;
};

}  // namespace tamrik::synccore::detail
