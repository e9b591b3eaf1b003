#pragma once
// A small logger: named loggers writing debug and warning lines to stderr.
//
// Messages are printf-style templates with "%s" and "%r" placeholders and the
// values passed separately, so the rendered text is the template with values
// filled in ("%r" renders text in single quotes). Debug lines are formatted
// and written only when tamrik_debug_enabled() is true.

#include <exception>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tamrik::core {

// True when TAMRIK_DEBUG turns debug lines on (see debug_switch_on). The
// one place the variable is read, once per process at the first call.
bool tamrik_debug_enabled();

// Whether a TAMRIK_DEBUG value turns debug lines on: trimmed and
// lower-cased, it is "1", "true", "yes" or "on".
bool debug_switch_on(std::string_view value);

// Turns debug lines on or off from now on, whatever TAMRIK_DEBUG said: for
// tests, whose process read the variable once already.
void set_tamrik_debug(bool enabled);

// Fills "%s" (value as is) and "%r" (value in single quotes) from `args`, in
// order; "%%" is a literal percent. Missing values render as "".
std::string format_message(std::string_view templ, std::initializer_list<std::string_view> args);

enum class LogLevel { debug, warning };

// One per deliverable, named after it ("synccore"). On stderr a line reads
// "tamrik.synccore: warning: <message>".
class Logger {
 public:
  explicit Logger(std::string name) : name_(std::move(name)) {}

  void debug(std::string_view templ, std::initializer_list<std::string_view> args = {}) const;
  // A debug line followed by the error's class name and message:
  // "<message>: FileNotFoundError: open x: No such file or directory".
  void debug(std::string_view templ, std::initializer_list<std::string_view> args, const std::exception& error) const;
  void warning(std::string_view templ, std::initializer_list<std::string_view> args = {}) const;

  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

// Where log lines go; stderr unless a test captures them. Each call receives
// the level, the logger name and the rendered message (without line break);
// calls never overlap, whichever threads log.
using LogSink = std::function<void(LogLevel, std::string_view logger, std::string_view message)>;
// Replaces the sink; returns the previous one. An empty sink restores stderr.
LogSink set_log_sink(LogSink sink);

}  // namespace tamrik::core
