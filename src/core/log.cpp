#include "core/log.hpp"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

#include "core/errors.hpp"
#include "core/text.hpp"

namespace tamrik::core {

namespace {

// The sink in use; null means stderr. Held by shared_ptr so a line being
// written keeps its sink alive while another thread swaps it.
std::mutex g_sink_mutex;
std::shared_ptr<const LogSink> g_sink;

std::shared_ptr<const LogSink> current_sink() {
  std::lock_guard lock(g_sink_mutex);
  return g_sink;
}

std::string_view level_name(LogLevel level) { return level == LogLevel::debug ? "debug" : "warning"; }

// One write(2) per line, so lines from concurrent hook processes never
// interleave mid-line. Failures are ignored: logging must not break the
// operation it describes.
void write_to_stderr(LogLevel level, std::string_view logger, std::string_view message) {
  std::string line = "tamrik.";
  line += logger;
  line += ": ";
  line += level_name(level);
  line += ": ";
  line += message;
  line += '\n';
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Lines come from worker threads too; a sink is called for one line at a
// time, so a sink that collects lines needs no lock of its own.
std::mutex g_sink_call_mutex;

void emit(LogLevel level, std::string_view logger, std::string_view message) {
  const auto sink = current_sink();
  if (sink) {
    std::lock_guard lock(g_sink_call_mutex);
    (*sink)(level, logger, message);
  } else {
    write_to_stderr(level, logger, message);
  }
}

// Every debug call asks; the environment is read only the first time.
std::atomic<bool>& debug_switch() {
  static std::atomic<bool> on{[] {
    const char* raw = std::getenv("TAMRIK_DEBUG");
    return raw != nullptr && debug_switch_on(raw);
  }()};
  return on;
}

}  // namespace

bool debug_switch_on(std::string_view value) {
  const std::string word = lower_ascii(trim(value, kAsciiSpace));
  return word == "1" || word == "true" || word == "yes" || word == "on";
}

bool tamrik_debug_enabled() { return debug_switch().load(std::memory_order_relaxed); }

void set_tamrik_debug(bool enabled) { debug_switch().store(enabled, std::memory_order_relaxed); }

std::string format_message(std::string_view templ, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(templ.size());
  auto next_arg = args.begin();
  auto take_arg = [&]() -> std::string_view { return next_arg == args.end() ? std::string_view{} : *next_arg++; };

  for (std::size_t i = 0; i < templ.size(); ++i) {
    const char c = templ[i];
    const char directive = i + 1 < templ.size() ? templ[i + 1] : '\0';
    if (c != '%' || (directive != 's' && directive != 'r' && directive != '%')) {
      out += c;
      continue;
    }
    ++i;
    if (directive == '%') {
      out += '%';
    } else if (directive == 's') {
      out += take_arg();
    } else {
      out += '\'';
      out += take_arg();
      out += '\'';
    }
  }
  return out;
}

void Logger::debug(std::string_view templ, std::initializer_list<std::string_view> args) const {
  if (!tamrik_debug_enabled()) return;
  emit(LogLevel::debug, name_, format_message(templ, args));
}

void Logger::debug(std::string_view templ, std::initializer_list<std::string_view> args,
                   const std::exception& error) const {
  if (!tamrik_debug_enabled()) return;
  std::string message = format_message(templ, args);
  message += ": ";
  message += class_name_of(error);
  message += ": ";
  message += error.what();
  emit(LogLevel::debug, name_, message);
}

void Logger::warning(std::string_view templ, std::initializer_list<std::string_view> args) const {
  emit(LogLevel::warning, name_, format_message(templ, args));
}

LogSink set_log_sink(LogSink sink) {
  auto replacement = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
  std::lock_guard lock(g_sink_mutex);
  auto previous = std::exchange(g_sink, std::move(replacement));
  return previous ? *previous : LogSink{};
}

}  // namespace tamrik::core
