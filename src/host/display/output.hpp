#pragma once
// Console output of the commands: one styled message per call, or a plain
// line. Success, info and plain lines go to stdout; errors and warnings to
// stderr, so a script that reads a command's output never gets its
// complaints mixed in.
//
// Colour is used only when the stream is a terminal, NO_COLOR is unset or
// empty, and TERM is not "dumb". Without colour a message is its text
// exactly, byte for byte, followed by a line break.

#include <cstdio>
#include <string>
#include <string_view>

namespace tamrik::display::output {

enum class Style { plain, success, error, info, warning };

class Console {
 public:
  // Writes to the given streams; colour is decided per stream on each call.
  Console(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  void print(std::string_view text) const { write(Style::plain, text); }
  void success(std::string_view text) const { write(Style::success, text); }
  void error(std::string_view text) const { write(Style::error, text); }
  void info(std::string_view text) const { write(Style::info, text); }
  void warning(std::string_view text) const { write(Style::warning, text); }

  // Where plain output goes, for a command that writes more than lines
  // (a pager, an interrupted listing) or paints its own colours.
  std::FILE* out() const { return out_; }
  std::FILE* err() const { return err_; }
  bool out_is_terminal() const;

 private:
  void write(Style style, std::string_view text) const;

  std::FILE* out_;
  std::FILE* err_;
};

// The process's console, on stdout and stderr.
const Console& console();

// A console that keeps what is written, stdout's lines and stderr's in the
// order written, without colour: the text of a command run for a caller
// that shows it elsewhere (the agent tool server, whose stdout is the
// protocol).
class BufferedConsole {
 public:
  BufferedConsole();
  ~BufferedConsole();
  BufferedConsole(const BufferedConsole&) = delete;
  BufferedConsole& operator=(const BufferedConsole&) = delete;

  const Console& console() const { return console_; }
  // Everything written so far.
  std::string text() const;

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
  Console console_;
};

// Whether text written to `stream` may carry colour codes.
bool colour_enabled(std::FILE* stream);

}  // namespace tamrik::display::output
