#include "host/display/output.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tamrik::display::output {

namespace {

// SGR codes: green, red, cyan, yellow; bold for errors so they stand out.
const char* colour_of(Style style) {
  switch (style) {
    case Style::success:
      return "\x1b[32m";
    case Style::error:
      return "\x1b[1;31m";
    case Style::info:
      return "\x1b[36m";
    case Style::warning:
      return "\x1b[33m";
    case Style::plain:
      break;
  }
  return nullptr;
}

// A stream in memory has no descriptor: never a terminal.
bool is_terminal(std::FILE* stream) {
  const int fd = ::fileno(stream);
  return fd >= 0 && ::isatty(fd) == 1;
}

bool goes_to_stderr(Style style) { return style == Style::error || style == Style::warning; }

}  // namespace

bool Console::out_is_terminal() const { return is_terminal(out_); }

bool colour_enabled(std::FILE* stream) {
  const char* no_colour = std::getenv("NO_COLOR");
  if (no_colour != nullptr && no_colour[0] != '\0') return false;
  const char* term = std::getenv("TERM");
  if (term != nullptr && std::strcmp(term, "dumb") == 0) return false;
  return is_terminal(stream);
}

void Console::write(Style style, std::string_view text) const {
  std::FILE* stream = goes_to_stderr(style) ? err_ : out_;
  const char* colour = colour_of(style);
  std::string line;
  if (colour != nullptr && colour_enabled(stream)) {
    line.append(colour).append(text).append("\x1b[0m");
  } else {
    line.append(text);
  }
  line.push_back('\n');
  // Errors must not overtake the output that led up to them.
  if (stream == err_) std::fflush(out_);
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

const Console& console() {
  static const Console instance(stdout, stderr);
  return instance;
}

BufferedConsole::BufferedConsole() : stream_(::open_memstream(&data_, &size_)), console_(stream_, stream_) {
  if (stream_ == nullptr) throw std::runtime_error("cannot make a buffer for a command's output");
}

BufferedConsole::~BufferedConsole() {
  std::fclose(stream_);
  std::free(data_);
}

std::string BufferedConsole::text() const {
  std::fflush(stream_);
  return {data_, size_};
}

}  // namespace tamrik::display::output
