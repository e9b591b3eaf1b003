#include "core/line_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/errors.hpp"

namespace tamrik::core {

namespace {

constexpr size_t kBlock = 64 * 1024;

UniqueFd open_for_lines(const std::filesystem::path& file) {
  struct stat st {};
  return open_regular_file(file, st);
}

}  // namespace

LineReader::LineReader(const std::filesystem::path& file, size_t max_line)
    : file_(file), fd_(open_for_lines(file)), max_line_(max_line), buffer_(kBlock) {}

void LineReader::seek(size_t offset) {
  if (::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0) throw OSError("seek " + file_.string(), errno);
  begin_ = end_ = 0;
  at_eof_ = false;
  consumed_ = offset;
}

bool LineReader::fill() {
  if (at_eof_) return false;
  if (begin_ > 0) {  // keep the partial line at the front
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() - end_ < kBlock) buffer_.resize(std::min(end_ + kBlock, max_line_ + kBlock));
  for (;;) {
    const ssize_t n = ::read(fd_.get(), buffer_.data() + end_, buffer_.size() - end_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw OSError("read " + file_.string(), errno);
    if (n == 0) at_eof_ = true;
    end_ += static_cast<size_t>(n);
    return n > 0;
  }
}

bool LineReader::next(Line& line) {
  const size_t start = consumed_;
  size_t scanned = 0;     // bytes after begin_ known to hold no line break
  bool skipping = false;  // inside a line already known to be too long
  const auto take = [&](size_t end, size_t separator) {
    const size_t length = consumed_ + (end - begin_) - start;
    const bool too_long = skipping || length > max_line_;
    line = {too_long ? std::string_view() : std::string_view(buffer_.data() + begin_, end - begin_), too_long, start,
            length};
    consumed_ += end - begin_ + separator;
    begin_ = end + separator;
  };
  for (;;) {
    const void* hit = std::memchr(buffer_.data() + begin_ + scanned, '\n', end_ - begin_ - scanned);
    if (hit != nullptr) {
      take(static_cast<size_t>(static_cast<const char*>(hit) - buffer_.data()), 1);
      return true;
    }
    if (end_ - begin_ > max_line_) {  // drop what is held of an over-long line
      skipping = true;
      consumed_ += end_ - begin_;
      begin_ = end_;
    }
    scanned = end_ - begin_;
    if (!fill()) {
      if (begin_ == end_ && consumed_ == start) return false;
      take(end_, 0);
      return true;
    }
  }
}

}  // namespace tamrik::core
