#include "host/hooks/shell_words.hpp"

#include <algorithm>
#include <array>
#include <filesystem>

namespace tamrik::hooks::installer {

namespace {

bool is_plain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("_-./+:=@%,").find(c) != std::string_view::npos;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Interpreters that run shell lines as we write them.
constexpr std::array<std::string_view, 6> kShells = {"sh", "bash", "dash", "zsh", "ksh", "ash"};

std::string file_name(const std::string& word) { return std::filesystem::path(word).filename().string(); }

// The interpreter's name from a "#!" line: "bash" for "#!/usr/bin/env bash"
// and for "#!/bin/bash -e".
std::string interpreter_of(std::string_view first_line) {
  std::vector<std::string> words = split_words(first_line.substr(2));
  if (words.empty()) return "";
  std::string name = file_name(words[0]);
  if (name == "env") {
    const auto program = std::find_if(words.begin() + 1, words.end(), [](const std::string& w) { return w[0] != '-'; });
    name = program == words.end() ? "" : file_name(*program);
  }
  return name;
}

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
        if (line[i] == '\\' && i + 1 < line.size() &&
            std::string_view("\"\\$`").find(line[i + 1]) != std::string_view::npos)
          ++i;
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

bool takes_shell_lines(std::string_view script) {
  if (!script.starts_with("#!")) return true;
  const std::string name = interpreter_of(script.substr(0, script.find('\n')));
  return std::find(kShells.begin(), kShells.end(), name) != kShells.end();
}

bool only_shebang_left(std::string_view script) {
  const size_t first_end = script.find('\n');
  const std::string_view rest = first_end == std::string_view::npos ? "" : script.substr(first_end + 1);
  return script.starts_with("#!") && rest.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace tamrik::hooks::installer
