#include "host/utils/marked_block.hpp"

namespace tamrik::utils::marked_block {

namespace {

// Offset of the first line equal to `line` at or after `from`, or npos.
std::size_t find_line(std::string_view text, std::string_view line, std::size_t from) {
  std::size_t start = from;
  while (start < text.size()) {
    std::size_t stop = text.find('\n', start);
    if (stop == std::string_view::npos) stop = text.size();
    std::string_view candidate = text.substr(start, stop - start);
    if (!candidate.empty() && candidate.back() == '\r') candidate.remove_suffix(1);
    if (candidate == line) return start;
    start = stop + 1;
  }
  return std::string_view::npos;
}

std::size_t past_line(std::string_view text, std::size_t line_start) {
  const std::size_t stop = text.find('\n', line_start);
  return stop == std::string_view::npos ? text.size() : stop + 1;
}

std::string framed(const Markers& markers, std::string_view body) {
  std::string block;
  block.append(markers.begin).append("\n").append(body);
  if (!body.empty() && body.back() != '\n') block.push_back('\n');
  block.append(markers.end).append("\n");
  return block;
}

std::size_t insertion_point(std::string_view text, Placement placement) {
  if (placement == Placement::after_shebang) return text.starts_with("#!") ? past_line(text, 0) : 0;
  return text.size();
}

}  // namespace

std::optional<Range> find_block(std::string_view text, const Markers& markers) {
  const std::size_t begin = find_line(text, markers.begin, 0);
  if (begin == std::string_view::npos) return std::nullopt;
  const std::size_t end_line = find_line(text, markers.end, past_line(text, begin));
  if (end_line == std::string_view::npos) return std::nullopt;
  return Range{begin, past_line(text, end_line)};
}

std::string with_block(std::string_view text, const Markers& markers, std::string_view body, Placement placement) {
  const std::string block = framed(markers, body);
  std::string result(text);
  if (const std::optional<Range> existing = find_block(text, markers)) {
    return result.replace(existing->begin, existing->end - existing->begin, block);
  }
  std::size_t at = insertion_point(text, placement);
  // A shebang or last line without its line break must not run into the block.
  if (at > 0 && result[at - 1] != '\n') {
    result.insert(at, "\n");
    ++at;
  }
  return result.insert(at, block);
}

std::string without_block(std::string_view text, const Markers& markers) {
  std::string result(text);
  if (const std::optional<Range> existing = find_block(text, markers)) {
    result.erase(existing->begin, existing->end - existing->begin);
  }
  return result;
}

}  // namespace tamrik::utils::marked_block
