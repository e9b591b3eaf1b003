#pragma once
// Reads a file's "\n"-terminated lines from the last to the first, through
// one buffer that never grows past the longest line allowed plus a block:
// the newest lines of an append-only file cost what they hold, not what the
// file holds. Lines come as core::LineReader gives them (a longer line is
// passed over whole and reported as too long). The file is opened as
// open_regular_file() does (links and special files refused below a
// confined directory).

#include "core/file_io.hpp"
#include "core/line_reader.hpp"

#include <filesystem>
#include <string>

namespace tamrik::core {

class ReverseLineReader {
 public:
  // Throws OSError when the file cannot be opened.
  ReverseLineReader(const std::filesystem::path& file, size_t max_line);

  // The line before the last one returned (at first, the file's last line),
  // valid until the following call; false at the start of the file. A last
  // line without "\n" counts as a line; a final "\n" adds none. Throws
  // OSError on a failed read.
  bool previous(LineReader::Line& line);

 private:
  // Reads the block before begin_ into the front of the buffer; false at
  // the start of the file.
  bool fill_before();
  // Passes over the rest of an over-long line ending at end_: its start.
  size_t skip_to_line_start();

  std::filesystem::path file_;
  UniqueFd fd_;
  size_t max_line_;
  std::string buffer_;  // bytes [begin_, begin_ + buffer_.size()) of the file
  size_t begin_ = 0;
  size_t end_ = 0;         // where the next line to return ends (its "\n" or the file's end)
  bool at_start_ = false;  // the first line has been returned
};

}  // namespace tamrik::core
