#include "cli/waiting_line.hpp"

#include "synccore/synccore.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace tamrik::cli {

namespace {

namespace http_client = protocol::http_client;
using std::chrono::seconds;

// A request answered within this is not worth a line.
constexpr seconds kQuietWait{1};
constexpr std::chrono::milliseconds kRedrawEvery{250};

long whole_seconds(std::chrono::steady_clock::duration duration) {
  return static_cast<long>(std::chrono::duration_cast<seconds>(duration).count());
}

// The URL without its scheme: the line has to fit a terminal's width.
std::string_view shown_host(std::string_view api_url) {
  const auto scheme_end = api_url.find("://");
  return scheme_end == std::string_view::npos ? api_url : api_url.substr(scheme_end + 3);
}

// "Waiting 4 s (56 s left) for host:port: GET /v1/..., 5 more", the times
// first: a narrow terminal cuts the end.
std::string waiting_text(const http_client::RequestsInFlight& requests) {
  const http_client::RequestInFlight& oldest = *requests.oldest;
  const long waited = whole_seconds(std::chrono::steady_clock::now() - oldest.started);
  std::string text = "Waiting " + std::to_string(waited) + " s";
  if (const std::optional<std::chrono::milliseconds> left = http_client::network_time_left()) {
    text += " (" + std::to_string(whole_seconds(*left)) + " s left)";
  }
  text += " for " + std::string(shown_host(oldest.api_url)) + ": " + oldest.method + " " + oldest.path;
  if (requests.count > 1) text += ", " + std::to_string(requests.count - 1) + " more";
  return text;
}

// Wider than the terminal, the line would wrap and could not be rewritten.
std::size_t terminal_columns() {
  winsize size{};
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 80;
}

}  // namespace

WaitingLine::WaitingLine(bool wanted) {
  if (!wanted || ::isatty(STDERR_FILENO) != 1) return;
  // Wiped on the thread whose request ended, before it goes on to print.
  http_client::on_requests_idle([this] {
    const std::lock_guard lock(mutex_);
    wipe();
  });
  thread_ = std::thread([this] { redraw_each_second(); });
}

WaitingLine::~WaitingLine() {
  if (!thread_.joinable()) return;
  http_client::on_requests_idle({});
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    wipe();
  }
  wake_.notify_all();
  thread_.join();
}

void WaitingLine::redraw_each_second() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, kRedrawEvery, [this] { return stopping_; })) draw();
}

void WaitingLine::draw() {
  const http_client::RequestsInFlight requests = http_client::requests_in_flight();
  if (!requests.oldest || std::chrono::steady_clock::now() - requests.oldest->started < kQuietWait) return;
  std::string text = waiting_text(requests);
  const std::size_t room = terminal_columns() - 1;
  if (text.size() > room) text.resize(room);
  if (shown_ > 0 && text == drawn_) return;
  drawn_ = text;
  // Blanks over what is left of a longer line before.
  if (text.size() < shown_) text.append(shown_ - text.size(), ' ');
  std::fputs(("\r" + text).c_str(), stderr);
  std::fflush(stderr);
  shown_ = text.size();
}

void WaitingLine::wipe() {
  if (shown_ == 0) return;
  std::fputs(("\r" + std::string(shown_, ' ') + "\r").c_str(), stderr);
  std::fflush(stderr);
  shown_ = 0;
}

}  // namespace tamrik::cli
