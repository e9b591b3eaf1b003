#include "host/hooks/shell_words.hpp"

namespace tamrik::hooks::installer {

namespace {

bool is_plain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("_-./+:=@%,").find(c) != std::string_view::npos;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

std::string shell_quote(std::string_view word) {
  bool plain = !word.empty();
  for (char c : word) plain = plain && is_plain(c);
  if (plain) return std::string(word);
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::vector<std::string> split_words(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (is_blank(c)) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
      continue;
    }
    in_word = true;
    if (c == '\'') {
      while (++i < line.size() && line[i] != '\'') word += line[i];
    } else if (c == '"') {
      while (++i < line.size() && line[i] != '"') {
        if (line[i] == '\\' && i + 1 < line.size() && std::string_view("\"\\$`").find(line[i + 1]) != std::string_view::npos) ++i;
        word += line[i];
      }
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i];
    } else {
      word += c;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

}  // namespace tamrik::hooks::installer
