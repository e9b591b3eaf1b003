// libtamrik_http.so: one HTTP request through libcurl, behind the plain C
// interface of http_transport.h. Policy (which URLs, which limits, what a
// status means) belongs to the client; this file only moves bytes and reports
// what happened.

#include "host/protocol/http_transport.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// curl_global_init is not safe to race with itself.
bool global_init_done() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ok;
}

// One easy handle per thread, reset between requests: the handle keeps its
// connection cache, so consecutive requests to the platform reuse one
// connection (and one TLS handshake).
class ThreadHandle {
 public:
  ThreadHandle() = default;
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;
  ~ThreadHandle() {
    if (handle_ != nullptr) curl_easy_cleanup(handle_);
  }

  CURL* fresh() {
    if (handle_ == nullptr) {
      handle_ = curl_easy_init();
    } else {
      curl_easy_reset(handle_);
    }
    return handle_;
  }

 private:
  CURL* handle_ = nullptr;
};

class HeaderList {
 public:
  HeaderList() = default;
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() { curl_slist_free_all(list_); }

  bool add(const char* line) {
    curl_slist* grown = curl_slist_append(list_, line);
    if (grown == nullptr) return false;
    list_ = grown;
    return true;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

struct Transfer {
  const tamrik_http_request* request;
  size_t received = 0;
  bool too_large = false;
  bool refused = false;
};

// Returning less than was offered makes libcurl stop with CURLE_WRITE_ERROR.
// The cap is checked here because libcurl's own size limit does not stop a
// chunked body of unknown length.
size_t on_write(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (bytes > transfer->request->max_body_bytes - transfer->received) {
    transfer->too_large = true;
    return 0;
  }
  transfer->received += bytes;
  if (transfer->request->on_body(transfer->request->sink, data, bytes) == 0) {
    transfer->refused = true;
    return 0;
  }
  return bytes;
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (transfer->request->on_header != nullptr) {
    transfer->request->on_header(transfer->request->sink, data, bytes);
  }
  return bytes;
}

// Nonzero makes libcurl stop with CURLE_ABORTED_BY_CALLBACK.
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* transfer = static_cast<const Transfer*>(user);
  return transfer->request->keep_going(transfer->request->sink) == 0 ? 1 : 0;
}

bool set_keep_going(CURL* curl, Transfer& transfer) {
  if (transfer.request->keep_going == nullptr) return true;
  return curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, on_progress) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

tamrik_http_outcome outcome_of(CURLcode code, const Transfer& transfer) {
  switch (code) {
    case CURLE_OK:
      return TAMRIK_HTTP_OK;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return TAMRIK_HTTP_NO_CONNECTION;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK:
      return TAMRIK_HTTP_TIMED_OUT;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return TAMRIK_HTTP_TLS_FAILED;
    case CURLE_WRITE_ERROR:
      if (transfer.too_large) return TAMRIK_HTTP_TOO_LARGE;
      if (transfer.refused) return TAMRIK_HTTP_REFUSED_BY_SINK;
      return TAMRIK_HTTP_FAILED;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
      return TAMRIK_HTTP_DROPPED;
    default:
      return TAMRIK_HTTP_FAILED;
  }
}

int finish(tamrik_http_response* response, tamrik_http_outcome outcome, const char* message) {
  response->outcome = outcome;
  std::snprintf(response->message, sizeof response->message, "%s", message);
  return outcome;
}

bool well_formed(const tamrik_http_request* request) {
  return request->abi_version == TAMRIK_HTTP_ABI_VERSION && request->method != nullptr && request->url != nullptr &&
         (request->headers != nullptr || request->header_count == 0) &&
         (request->body != nullptr || request->body_size == 0) && request->on_body != nullptr &&
         request->connect_timeout_ms > 0 && request->total_timeout_ms > 0;
}

bool set_method(CURL* curl, const tamrik_http_request* request) {
  if (std::strcmp(request->method, "GET") == 0) {
    return curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  }
  if (std::strcmp(request->method, "POST") == 0) {
    return curl_easy_setopt(curl, CURLOPT_POST, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request->body_size)) ==
               CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request->body != nullptr ? request->body : "") == CURLE_OK;
  }
  return false;
}

int perform(const tamrik_http_request* request, tamrik_http_response* response) {
  if (!global_init_done()) return finish(response, TAMRIK_HTTP_FAILED, "libcurl failed to initialise");
  thread_local ThreadHandle thread_handle;
  CURL* curl = thread_handle.fresh();
  if (curl == nullptr) return finish(response, TAMRIK_HTTP_FAILED, "libcurl could not make a handle");

  HeaderList headers;
  for (size_t i = 0; i < request->header_count; ++i) {
    if (!headers.add(request->headers[i])) return finish(response, TAMRIK_HTTP_FAILED, "out of memory");
  }
  // No "Expect: 100-continue" pause before large bodies.
  if (!headers.add("Expect:")) return finish(response, TAMRIK_HTTP_FAILED, "out of memory");

  Transfer transfer{request};
  char error_text[CURL_ERROR_SIZE] = "";
  const bool configured = set_method(curl, request) && curl_easy_setopt(curl, CURLOPT_URL, request->url) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
                          // Timeouts must not use signals: this runs inside other programs' threads.
                          curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, request->connect_timeout_ms) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request->total_timeout_ms) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "") == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_write) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, on_header) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text) == CURLE_OK &&
                          set_keep_going(curl, transfer) &&
                          (request->bypass_proxy == 0 || curl_easy_setopt(curl, CURLOPT_NOPROXY, "*") == CURLE_OK);
  if (!configured) return finish(response, TAMRIK_HTTP_FAILED, "libcurl refused the request settings");

  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  response->status = status;
  // The handle points at our stack; nothing may reach it after we return.
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  const tamrik_http_outcome outcome = outcome_of(code, transfer);
  if (outcome == TAMRIK_HTTP_OK) return finish(response, outcome, "");
  if (code == CURLE_ABORTED_BY_CALLBACK) return finish(response, outcome, "stopped: the time allowed ran out");
  return finish(response, outcome, error_text[0] != '\0' ? error_text : curl_easy_strerror(code));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int tamrik_http_perform(const tamrik_http_request* request,
                                                                          tamrik_http_response* response) {
  if (response == nullptr) return TAMRIK_HTTP_FAILED;
  response->status = 0;
  if (request == nullptr || !well_formed(request)) {
    return finish(response, TAMRIK_HTTP_FAILED, "malformed request for libtamrik_http");
  }
  try {
    return perform(request, response);
  } catch (...) {
    // Nothing C++ may cross this boundary.
    return finish(response, TAMRIK_HTTP_FAILED, "unexpected failure inside libtamrik_http");
  }
}
