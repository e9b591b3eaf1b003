#include "cli/mcp/line_reader.hpp"

#include <cerrno>
#include <unistd.h>

namespace tamrik::cli::mcp {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

}  // namespace

bool LineReader::fill() {
  if (eof_) return false;
  // Drop what has been handed out so the buffer stays near the cap.
  buffer_.erase(0, start_);
  start_ = 0;
  char chunk[kChunkBytes];
  for (;;) {
    const ssize_t got = ::read(fd_, chunk, sizeof chunk);
    if (got > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    eof_ = true;
    return false;
  }
}

std::optional<Line> LineReader::next() {
  bool too_long = false;
  std::size_t scanned = start_;
  for (;;) {
    const std::size_t newline = buffer_.find('\n', scanned);
    if (newline != std::string::npos) {
      Line line;
      line.too_long = too_long || newline - start_ > max_;
      if (!line.too_long) line.text = buffer_.substr(start_, newline - start_);
      start_ = newline + 1;
      return line;
    }
    if (buffer_.size() - start_ > max_) {
      // Past the cap: forget the bytes read so far, keep looking for the end.
      too_long = true;
      start_ = buffer_.size();
    }
    scanned = buffer_.size();
    const std::size_t kept_before = start_;
    if (!fill()) break;
    scanned -= kept_before;
  }
  if (start_ >= buffer_.size() && !too_long) return std::nullopt;
  Line line;
  line.too_long = too_long || buffer_.size() - start_ > max_;
  if (!line.too_long) line.text = buffer_.substr(start_);
  start_ = buffer_.size();
  return line;
}

}  // namespace tamrik::cli::mcp
