#include "synccore/ledger_mark.hpp"

#include "core/file_io.hpp"
#include "core/sha256.hpp"

#include <sys/stat.h>

#include <algorithm>

namespace tamrik::synccore::detail {

namespace {

constexpr size_t kTailBytes = 4096;

long long mtime_ns(const struct stat& st) {
  return static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000LL + st.st_mtim.tv_nsec;
}

// A hash of the bytes before `offset` (at most kTailBytes of them), or ""
// when they cannot be read.
std::string tail_hash(int fd, size_t offset) {
  const size_t from = offset - std::min(offset, kTailBytes);
  std::string bytes(offset - from, '\0');
  if (!core::read_at(fd, bytes.data(), bytes.size(), from)) return "";
  return core::sha256_hex(bytes);
}

}  // namespace

LedgerMark LedgerMark::of(int fd, size_t offset) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return {};
  return {
      .device = st.st_dev, .inode = st.st_ino, .offset = offset, .mtime = mtime_ns(st), .tail = tail_hash(fd, offset)};
}

bool LedgerMark::still_holds(int fd, const struct stat& st) const {
  if (tail.empty() || device != st.st_dev || inode != st.st_ino) return false;
  const auto size = static_cast<size_t>(st.st_size);
  if (offset > size || (offset == size && mtime != mtime_ns(st))) return false;
  return tail_hash(fd, offset) == tail;
}

}  // namespace tamrik::synccore::detail
