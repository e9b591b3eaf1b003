#pragma once
// Shell words in the commands tamrik writes into hooks and reads back.

#include <string>
#include <string_view>
#include <vector>

namespace tamrik::hooks::installer {

// `word` as one shell word: unchanged when it has only characters no shell
// treats specially, else in single quotes ('it'\''s').
std::string shell_quote(std::string_view word);

// The words of a command line as a POSIX shell splits them: blanks separate
// words; single quotes, double quotes (with \" \\ \$ \` escapes) and
// backslashes quote. Unterminated quotes run to the end. No expansions.
std::vector<std::string> split_words(std::string_view line);

// Whether a hook script runs lines written for a POSIX shell: it names sh,
// bash, dash, zsh, ksh or ash in its "#!" line (directly or through env),
// or has no "#!" line at all, in which case /bin/sh runs it.
bool takes_shell_lines(std::string_view script);

// Whether nothing but a "#!" line and blank lines is left of a script.
bool only_shebang_left(std::string_view script);

}  // namespace tamrik::hooks::installer
