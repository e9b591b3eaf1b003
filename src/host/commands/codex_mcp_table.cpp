#include "host/commands/codex_mcp_table.hpp"

#include <string_view>

namespace tamrik::commands::mcp {

namespace {

constexpr std::string_view kTable = "[mcp_servers.tamrik]\ncommand = \"tamrik\"\nargs = [\"mcp\"]\n";

struct Range {
  std::size_t begin;
  std::size_t end;
};

std::string_view trimmed(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = line.find_last_not_of(" \t\r");
  return line.substr(first, last - first + 1);
}

bool is_header(std::string_view line) { return trimmed(line).starts_with('['); }

bool is_our_header(std::string_view line) {
  const std::string_view text = trimmed(line);
  for (std::string_view name : {"[mcp_servers.tamrik", "[mcp_servers.\"tamrik\""}) {
    if (text.starts_with(name) && (text.substr(name.size()).starts_with(']') || text.substr(name.size()).starts_with('.'))) {
      return true;
    }
  }
  return false;
}

// From our first header to the next header that is not ours, or the end.
std::optional<Range> our_range(const std::string& text) {
  std::optional<std::size_t> begin;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t newline = text.find('\n', at);
    const std::size_t next = newline == std::string::npos ? text.size() : newline + 1;
    const std::string_view line(text.data() + at, next - at);
    if (!begin && is_our_header(line)) begin = at;
    else if (begin && is_header(line) && !is_our_header(line)) return Range{*begin, at};
    at = next;
  }
  if (begin) return Range{*begin, text.size()};
  return std::nullopt;
}

}  // namespace

std::optional<std::string> codex_config_with_table(const std::string& text) {
  const std::optional<Range> range = our_range(text);
  if (!range) {
    std::string added = text;
    if (!added.empty() && !added.ends_with('\n')) added += '\n';
    if (!added.empty()) added += '\n';
    return added + std::string(kTable);
  }
  // A following table stays one blank line away.
  const std::string replacement = std::string(kTable) + (range->end < text.size() ? "\n" : "");
  if (text.compare(range->begin, range->end - range->begin, replacement) == 0) return std::nullopt;
  return text.substr(0, range->begin) + replacement + text.substr(range->end);
}

std::optional<std::string> codex_config_without_table(const std::string& text) {
  const std::optional<Range> range = our_range(text);
  if (!range) return std::nullopt;
  std::string before = text.substr(0, range->begin);
  // At the end of the file, drop the blank line that separated our table.
  if (range->end == text.size() && before.ends_with("\n\n")) before.pop_back();
  return before + text.substr(range->end);
}

}  // namespace tamrik::commands::mcp
