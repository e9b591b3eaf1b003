#pragma once
// Reads one message per line from a file descriptor without ever holding
// more than a bounded line in memory: an agent that sends a huge message
// gets an error for it, and the stream goes on after its line break.

#include <cstddef>
#include <optional>
#include <string>

namespace tamrik::cli::mcp {

struct Line {
  std::string text;       // without the line break; empty when too_long
  bool too_long = false;  // the line exceeded the cap and was skipped
};

class LineReader {
 public:
  LineReader(int fd, std::size_t max_line_bytes) : fd_(fd), max_(max_line_bytes) {}

  // The next line, or nullopt at the end of input. A last line without a
  // line break still counts.
  std::optional<Line> next();

 private:
  bool fill();  // false at the end of input (or a read error)

  int fd_;
  std::size_t max_;
  std::string buffer_;
  std::size_t start_ = 0;
  bool eof_ = false;
};

}  // namespace tamrik::cli::mcp
