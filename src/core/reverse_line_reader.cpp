#include "core/reverse_line_reader.hpp"

#include "core/errors.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tamrik::core {

namespace {

constexpr size_t kBackwardBlock = 64 * 1024;

// Reads exactly bytes [offset, offset + length) of `fd` into `out`.
void read_at(int fd, size_t offset, char* out, size_t length, const std::filesystem::path& file) {
  while (length > 0) {
    const ssize_t n = ::pread(fd, out, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw OSError("read " + file.string(), errno);
    if (n == 0) throw OSError("read " + file.string() + " (it shrank while read)", EIO);
    out += n;
    offset += static_cast<size_t>(n);
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

ReverseLineReader::ReverseLineReader(const std::filesystem::path& file, size_t max_line)
    : file_(file), max_line_(max_line) {
  struct stat st {};
  fd_ = open_regular_file(file, st);
  begin_ = end_ = static_cast<size_t>(st.st_size);
  if (end_ > 0) {
    char last = 0;
    read_at(fd_.get(), end_ - 1, &last, 1, file_);
    if (last == '\n') begin_ = --end_;  // a final line break ends the last line, it starts none
  }
  at_start_ = st.st_size == 0;
}

bool ReverseLineReader::fill_before() {
  if (begin_ == 0) return false;
  const size_t block = std::min(kBackwardBlock, begin_);
  const size_t held = end_ - begin_;  // what the buffer holds of the next line; the rest was returned
  std::string grown(block + held, '\0');
  read_at(fd_.get(), begin_ - block, grown.data(), block, file_);
  std::memcpy(grown.data() + block, buffer_.data(), held);
  buffer_ = std::move(grown);
  begin_ -= block;
  return true;
}

size_t ReverseLineReader::skip_to_line_start() {
  char block[kBackwardBlock];
  size_t to = begin_;
  while (to > 0) {
    const size_t length = std::min(kBackwardBlock, to);
    read_at(fd_.get(), to - length, block, length, file_);
    const void* hit = ::memrchr(block, '\n', length);
    if (hit != nullptr) return to - length + static_cast<size_t>(static_cast<const char*>(hit) - block) + 1;
    to -= length;
  }
  return 0;
}

bool ReverseLineReader::previous(LineReader::Line& line) {
  if (at_start_) return false;
  for (;;) {
    const size_t held = end_ - begin_;
    const void* hit = ::memrchr(buffer_.data(), '\n', held);
    if (hit != nullptr || begin_ == 0) {
      const size_t start = hit == nullptr ? 0 : static_cast<size_t>(static_cast<const char*>(hit) - buffer_.data()) + 1;
      const size_t length = held - start;
      const bool too_long = length > max_line_;
      line = {too_long ? std::string_view() : std::string_view(buffer_.data() + start, length), too_long,
              begin_ + start, length};
      at_start_ = hit == nullptr;
      end_ = begin_ + (hit == nullptr ? 0 : start - 1);
      return true;
    }
    if (held > max_line_) {  // no need to hold any more of it: find where it starts
      const size_t start = skip_to_line_start();
      line = {std::string_view(), true, start, end_ - start};
      at_start_ = start == 0;
      end_ = begin_ = start == 0 ? 0 : start - 1;
      buffer_.clear();
      return true;
    }
    fill_before();
  }
}

}  // namespace tamrik::core
