#pragma once
// Reads a file one "\n"-terminated line at a time through one buffer that
// never grows past the longest line allowed: a longer line is passed over
// whole and reported as such, so neither a huge file nor a huge line costs
// memory. The file is opened as open_file() does (links and special files
// refused below a confined directory).

#include <filesystem>
#include <string_view>
#include <vector>

#include "core/file_io.hpp"

namespace tamrik::core {

class LineReader {
 public:
  struct Line {
    std::string_view text;  // without its "\n"; empty when too_long
    bool too_long = false;
    size_t offset = 0;  // where the line starts in the file
    size_t length = 0;  // its length without the "\n", also when too_long
  };

  // Throws OSError when the file cannot be opened.
  LineReader(const std::filesystem::path& file, size_t max_line);

  // The next line, valid until the following call; false at the end of the
  // file. A last line without "\n" counts as a line. Throws OSError on a
  // failed read.
  bool next(Line& line);

  // Goes on from byte `offset` of the file; later lines start there.
  // Throws OSError.
  void seek(size_t offset);

  // The file's descriptor, for copying an over-long line by its offset.
  int fd() const { return fd_.get(); }

  // The offset just past the last line returned: at the end, the size of
  // the file as read.
  size_t consumed() const { return consumed_; }

 private:
  // Reads more into the buffer; false at the end of the file.
  bool fill();

  std::filesystem::path file_;
  UniqueFd fd_;
  size_t max_line_;
  std::vector<char> buffer_;
  size_t begin_ = 0;  // first unconsumed byte
  size_t end_ = 0;    // one past the last byte read
  bool at_eof_ = false;
  size_t consumed_ = 0;  // file offset of buffer_[begin_]
};

}  // namespace tamrik::core
