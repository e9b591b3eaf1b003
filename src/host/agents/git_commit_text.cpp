#include "host/agents/git_commit_text.hpp"

#include "core/text.hpp"
#include "host/agents/commit_hashes.hpp"

#include <algorithm>
#include <array>

namespace tamrik::agents {

namespace {

bool is_separator(char c) {
  switch (c) {
    case ';':
    case '&':
    case '|':
    case '(':
    case ')':
    case '`':
    case '\n':
    case '{':
    case '}':
      return true;
    default:
      return false;
  }
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The words of one simple command, quotes dropped.
std::vector<std::string> words_of(std::string_view segment) {
  std::vector<std::string> words;
  std::string word;
  for (char c : segment) {
    if (is_blank(c)) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else if (c != '"' && c != '\'' && c != '\\') {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

bool is_git(std::string_view word) {
  return word == "git" || (word.size() > 4 && word.substr(word.size() - 4) == "/git");
}

// git's global options that take their value as the next word.
bool takes_value(std::string_view option) {
  constexpr std::array<std::string_view, 7> kWithValue = {"-C",          "-c",           "--git-dir",     "--work-tree",
                                                          "--namespace", "--config-env", "--super-prefix"};
  return std::find(kWithValue.begin(), kWithValue.end(), option) != kWithValue.end();
}

bool segment_runs_git_commit(std::string_view segment) {
  const std::vector<std::string> words = words_of(segment);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (!is_git(words[i])) continue;
    std::size_t k = i + 1;
    while (k < words.size() && words[k].size() > 1 && words[k][0] == '-') {
      k += takes_value(words[k]) ? 2 : 1;
    }
    if (k < words.size() && words[k] == "commit") return true;
  }
  return false;
}

// Blanks, or a word and a colon: what may stand before git's summary.
bool is_label(std::string_view text) {
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  if (text.empty()) return true;
  if (text.back() != ':') return false;
  return std::none_of(text.begin(), text.end(), [](char c) { return c == '[' || c == ']'; });
}

bool is_hex_text(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

bool runs_git_commit(std::string_view command) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= command.size(); ++i) {
    if (i == command.size() || is_separator(command[i])) {
      if (segment_runs_git_commit(command.substr(start, i - start))) return true;
      start = i + 1;
    }
  }
  return false;
}

std::vector<std::string> commit_summary_hashes(std::string_view output) {
  std::vector<std::string> hashes;
  for (std::string_view line : core::lines_of(output)) {
    // The summary starts the line, or follows a tool's label ("Output: [main ...").
    const std::size_t open = line.find('[');
    if (open == std::string_view::npos || !is_label(line.substr(0, open))) continue;
    line.remove_prefix(open);
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) continue;
    const std::string_view inside = line.substr(1, close - 1);
    const std::size_t space = inside.rfind(' ');
    if (space == std::string_view::npos) continue;
    const std::string_view hash = inside.substr(space + 1);
    if (hash.size() >= kMinAbbrev && hash.size() <= kMaxHashLength && is_hex_text(hash)) hashes.emplace_back(hash);
  }
  return hashes;
}

std::optional<int> exit_code_after(std::string_view output, std::string_view label) {
  const std::size_t at = output.find(label);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = output.substr(at + label.size());
  const bool negative = !rest.empty() && rest.front() == '-';
  if (negative) rest.remove_prefix(1);
  int code = 0;
  std::size_t digits = 0;
  for (; digits < rest.size() && digits < 9 && rest[digits] >= '0' && rest[digits] <= '9'; ++digits) {
    code = code * 10 + (rest[digits] - '0');
  }
  if (digits == 0) return std::nullopt;
  return negative ? -code : code;
}

}  // namespace tamrik::agents
