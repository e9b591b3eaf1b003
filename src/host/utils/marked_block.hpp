#pragma once
// Lines tamrik owns inside a file it shares with the user (a git hook, an
// ignore file): framed by a begin and an end marker line, so they can be
// updated in place and removed again without touching anything else.

#include <optional>
#include <string>
#include <string_view>

namespace tamrik::utils::marked_block {

struct Markers {
  std::string_view begin;  // whole lines, without their line break
  std::string_view end;
};

enum class Placement {
  end,            // after the last line
  after_shebang,  // after a first line starting "#!", else at the start
};

// Byte range [begin, end) of the first block in `text`: from the start of
// its begin line to just past the line break of its end line. nullopt when
// the begin line is missing or has no end line after it.
struct Range {
  std::size_t begin = 0;
  std::size_t end = 0;
};
std::optional<Range> find_block(std::string_view text, const Markers& markers);

// `text` with the block holding `body` (lines ending in "\n"): an existing
// block is replaced where it stands, else a new one is placed as asked.
std::string with_block(std::string_view text, const Markers& markers, std::string_view body, Placement placement);

// `text` without the block; unchanged when it has none. Removing a block
// that with_block() added gives back the text as it was, except that a last
// line without a line break has gained one.
std::string without_block(std::string_view text, const Markers& markers);

}  // namespace tamrik::utils::marked_block
