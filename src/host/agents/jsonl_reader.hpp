#pragma once
// Streams a JSON-lines transcript through a caller-owned buffer, so a scan of
// many files allocates once and a 2 GB transcript costs no more memory than a
// small one.
//
// Transcripts are written while we read them, so: a last line without its
// line break is torn and never handed over; a line longer than kMaxLineBytes
// is skipped whole; a read error ends the file quietly. Nothing here throws.

#include "core/file_io.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace tamrik::agents {

// Lines above this (a pasted image, a giant tool result) are skipped rather
// than held in memory.
inline constexpr std::size_t kMaxLineBytes = 64u << 20;

class JsonlReader {
 public:
  // `buffer` is reused across files; it grows only while a single line is
  // longer than what it holds, up to `max_line` bytes.
  explicit JsonlReader(std::vector<char>& buffer, std::size_t max_line = kMaxLineBytes);
  JsonlReader(const JsonlReader&) = delete;
  JsonlReader& operator=(const JsonlReader&) = delete;

  // Opens a regular file; false for anything else (missing, unreadable, a
  // directory, a FIFO).
  bool open(const std::filesystem::path& file);

  // The next run of whole lines, each ending in '\n'; nullopt at the end of
  // the file or on a read error. The view lives until the next call.
  std::optional<std::string_view> next_block();

 private:
  bool fill();

  std::vector<char>& buffer_;
  std::size_t max_line_;
  core::UniqueFd fd_;
  std::size_t begin_ = 0;  // start of bytes not yet handed over
  std::size_t end_ = 0;    // end of bytes read
  bool eof_ = false;
  bool skipping_ = false;  // inside a line longer than kMaxLineBytes
};

// Calls `on_line` for every whole line of `file` (without its '\n'). False
// when the file could not be opened.
bool for_each_jsonl_line(const std::filesystem::path& file, std::vector<char>& buffer,
                         const std::function<void(std::string_view line)>& on_line);

}  // namespace tamrik::agents
