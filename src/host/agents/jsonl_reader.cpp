#include "host/agents/jsonl_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tamrik::agents {

namespace {

// Large enough that read() costs little per byte, small enough to stay in
// the caches while the finders run over it.
constexpr std::size_t kBlockBytes = 1u << 20;

}  // namespace

JsonlReader::JsonlReader(std::vector<char>& buffer, std::size_t max_line)
    : buffer_(buffer), max_line_(std::max<std::size_t>(max_line, 1)) {
  const std::size_t wanted = std::min(kBlockBytes, max_line_);
  if (buffer_.size() < wanted) buffer_.resize(wanted);
}

bool JsonlReader::open(const std::filesystem::path& file) {
  fd_ = core::UniqueFd();
  begin_ = end_ = 0;
  eof_ = skipping_ = false;
  try {
    // O_NONBLOCK: opening a FIFO named like a transcript must not hang us.
    core::UniqueFd fd = core::open_file(file, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    fd_ = std::move(fd);
    return true;
  } catch (...) {
    return false;
  }
}

bool JsonlReader::fill() {
  ssize_t n;
  do {
    n = ::read(fd_.get(), buffer_.data() + end_, buffer_.size() - end_);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    eof_ = true;
    return n == 0;
  }
  end_ += static_cast<std::size_t>(n);
  return true;
}

std::optional<std::string_view> JsonlReader::next_block() {
  if (!fd_) return std::nullopt;
  for (;;) {
    // The unconsumed tail is the start of a line still being read.
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (eof_) return std::nullopt;  // whatever is left has no line break: torn
    if (end_ == buffer_.size()) {
      if (buffer_.size() < max_line_) {
        buffer_.resize(std::min(buffer_.size() * 2, max_line_));
      } else {
        skipping_ = true;  // one line fills the largest buffer we allow
        end_ = 0;
      }
    }
    if (!fill()) return std::nullopt;

    char* data = buffer_.data();
    std::size_t start = 0;
    if (skipping_) {
      const void* newline = std::memchr(data, '\n', end_);
      if (newline == nullptr) {
        end_ = 0;
        continue;
      }
      start = static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1;
      skipping_ = false;
    }
    const void* last = ::memrchr(data + start, '\n', end_ - start);
    if (last == nullptr) {
      begin_ = start;
      continue;
    }
    const std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(last) - data) + 1;
    begin_ = stop;
    return std::string_view(data + start, stop - start);
  }
}

bool for_each_jsonl_line(const std::filesystem::path& file, std::vector<char>& buffer,
                         const std::function<void(std::string_view line)>& on_line) {
  JsonlReader reader(buffer);
  if (!reader.open(file)) return false;
  while (auto block = reader.next_block()) {
    std::string_view rest = *block;
    while (!rest.empty()) {
      const std::size_t newline = rest.find('\n');
      on_line(rest.substr(0, newline));
      rest.remove_prefix(newline + 1);
    }
  }
  return true;
}

}  // namespace tamrik::agents
