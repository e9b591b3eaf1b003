// Loads libtamrik_http.so on first use and runs requests through it.
// Keeping libcurl out of the load-time dependencies saves every hook call
// the cost of loading it (some 30 shared libraries); only the code paths that
// really talk to the network open it.

#include "host/protocol/transport.hpp"

#include "host/protocol/http_client.hpp"
#include "core/text.hpp"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

namespace tamrik::protocol::http_client::detail {

namespace {

constexpr const char* kLibraryName = "libtamrik_http.so";

// An address inside the object (library or executable) this code is part of.
const char library_anchor = 0;

struct LoadedTransport {
  tamrik_http_perform_fn perform = nullptr;
  std::string error;  // why perform is null
};

// Beside the object that holds this client first (a library in lib/), then
// in ../lib from it (an executable in bin/), so an installed tamrik uses its
// own transport; then the plain name through the usual search path. The
// search path alone is not enough: under a dlopen interceptor (sanitizers)
// the caller's RUNPATH is not consulted.
LoadedTransport load_transport() {
  std::filesystem::path home;
  Dl_info info{};
  if (dladdr(&library_anchor, &info) != 0 && info.dli_fname != nullptr) {
    home = std::filesystem::path(info.dli_fname).parent_path();
  }
  // The main program is named as it was started ("tamrik", "./bin/tamrik"),
  // which says little about where it lives; the kernel knows.
  if (home.is_relative()) {
    std::error_code error;
    home = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
  }
  std::vector<std::string> candidates;
  if (!home.empty()) {
    candidates.push_back((home / kLibraryName).string());
    candidates.push_back((home / ".." / "lib" / kLibraryName).string());
  }
  candidates.emplace_back(kLibraryName);
  void* handle = nullptr;
  for (const std::string& candidate : candidates) {
    handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) break;
  }
  if (handle == nullptr) {
    const std::string where = home.empty() ? "this program" : home.string();
    return {nullptr, "HTTP support is missing: " + std::string(kLibraryName) + " not found next to " + where + " (" +
                         dlerror() + "); reinstall tamrik"};
  }
  void* symbol = dlsym(handle, TAMRIK_HTTP_PERFORM_SYMBOL);
  if (symbol == nullptr) {
    return {nullptr, "HTTP support is broken: " + std::string(kLibraryName) + " has no " + TAMRIK_HTTP_PERFORM_SYMBOL +
                         "; reinstall tamrik"};
  }
  return {reinterpret_cast<tamrik_http_perform_fn>(symbol), {}};
}

tamrik_http_perform_fn transport_function() {
  static const LoadedTransport loaded = load_transport();
  if (loaded.perform == nullptr) throw HttpSupportMissingError(loaded.error);
  return loaded.perform;
}

// Blocks SIGPIPE in this thread for the duration of a request and swallows
// one raised meanwhile. Unlike ignoring it process-wide, this leaves the
// disposition that child processes (git) inherit untouched.
class SigpipeHold {
 public:
  SigpipeHold() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    was_pending_ = pending();
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeHold() {
    if (!was_pending_ && pending()) {
      const timespec no_wait{0, 0};
      sigtimedwait(&pipe_, nullptr, &no_wait);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeHold(const SigpipeHold&) = delete;
  SigpipeHold& operator=(const SigpipeHold&) = delete;

 private:
  static bool pending() {
    sigset_t set;
    sigemptyset(&set);
    return sigpending(&set) == 0 && sigismember(&set, SIGPIPE) == 1;
  }

  sigset_t pipe_{};
  sigset_t previous_{};
  bool was_pending_ = false;
};

int append_body(void* sink, const char* data, size_t size) {
  try {
    static_cast<TransportResponse*>(sink)->body.append(data, size);
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

// A status line starts a new response (after a 1xx); only the last counts.
void collect_header(void* sink, const char* data, size_t size) {
  auto* response = static_cast<TransportResponse*>(sink);
  const std::string_view line(data, size);
  try {
    if (line.starts_with("HTTP/")) {
      response->headers.clear();
      return;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return;
    response->headers.emplace_back(std::string(core::trim(line.substr(0, colon))),
                                   std::string(core::trim(line.substr(colon + 1))));
  } catch (const std::bad_alloc&) {
    // A header we cannot hold is a header we do not use.
  }
}

bool same_ascii_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A transfer goes on while the open network budgets leave time: one opened
// after it started (a cancelled tool call's) stops it too.
int time_left(void*) {
  const std::optional<std::chrono::milliseconds> left = network_time_left();
  return !left || left->count() > 0 ? 1 : 0;
}

long milliseconds_at_least_one(std::chrono::milliseconds value) {
  return std::max<long>(1, static_cast<long>(value.count()));
}

}  // namespace

std::optional<std::string> TransportResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (same_ascii_name(key, name)) return value;
  }
  return std::nullopt;
}

TransportResponse perform(const TransportRequest& request) {
  const tamrik_http_perform_fn perform_request = transport_function();

  std::vector<const char*> header_lines;
  header_lines.reserve(request.headers.size());
  for (const std::string& line : request.headers) header_lines.push_back(line.c_str());

  TransportResponse response;
  const tamrik_http_request c_request{
      .abi_version = TAMRIK_HTTP_ABI_VERSION,
      .method = request.method.c_str(),
      .url = request.url.c_str(),
      .headers = header_lines.data(),
      .header_count = header_lines.size(),
      .body = request.body.data(),
      .body_size = request.body.size(),
      .connect_timeout_ms = milliseconds_at_least_one(request.connect_timeout),
      .total_timeout_ms = milliseconds_at_least_one(request.total_timeout),
      .bypass_proxy = request.bypass_proxy ? 1 : 0,
      .max_body_bytes = request.max_body_bytes,
      .sink = &response,
      .on_body = append_body,
      .on_header = collect_header,
      .keep_going = time_left,
  };
  tamrik_http_response c_response{};
  {
    const SigpipeHold hold;
    perform_request(&c_request, &c_response);
  }
  response.outcome = static_cast<tamrik_http_outcome>(c_response.outcome);
  response.status = c_response.status;
  response.message.assign(c_response.message, strnlen(c_response.message, sizeof c_response.message));
  return response;
}

}  // namespace tamrik::protocol::http_client::detail
