#pragma once
// The boundary between the platform API client and the shared library that
// moves its bytes (libtamrik_http.so, the only code that links libcurl).
// The client opens that library on first use, so programs that never talk to
// the network never pay for loading the HTTP stack. Plain C types only: the
// two sides are built together, but nothing C++ crosses a dlopen boundary.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Bumped whenever a struct below changes; the library refuses other versions.
#define TAMRIK_HTTP_ABI_VERSION 2

// The name of the one exported function, for dlsym.
#define TAMRIK_HTTP_PERFORM_SYMBOL "tamrik_http_perform"

enum tamrik_http_outcome {
  TAMRIK_HTTP_OK = 0,          // a whole response arrived, whatever its status
  TAMRIK_HTTP_NO_CONNECTION,   // name lookup, connect or proxy failed
  TAMRIK_HTTP_TIMED_OUT,       // a time limit passed
  TAMRIK_HTTP_TLS_FAILED,      // handshake or certificate check failed
  TAMRIK_HTTP_DROPPED,         // the connection broke or the answer was not HTTP
  TAMRIK_HTTP_TOO_LARGE,       // the body passed max_body_bytes
  TAMRIK_HTTP_REFUSED_BY_SINK, // on_body asked to stop
  TAMRIK_HTTP_FAILED           // anything else (bad request setup, no memory)
};

struct tamrik_http_request {
  int abi_version;              // TAMRIK_HTTP_ABI_VERSION
  const char* method;           // "GET" or "POST"
  const char* url;
  const char* const* headers;   // complete "Name: value" lines, no line breaks
  size_t header_count;
  const char* body;             // sent with POST; may be NULL when body_size is 0
  size_t body_size;
  long connect_timeout_ms;      // both at least 1
  long total_timeout_ms;
  int bypass_proxy;             // nonzero for loopback targets
  size_t max_body_bytes;        // the transfer stops beyond this many body bytes
  void* sink;                   // passed back to the callbacks
  // Body bytes in order. Returns nonzero to go on, zero to stop the transfer.
  int (*on_body)(void* sink, const char* data, size_t size);
  // Each response header line as received (line break included), the status
  // lines of interim (1xx) responses too.
  void (*on_header)(void* sink, const char* line, size_t size);
  // Asked about once a second while the transfer runs, also while it waits
  // on a silent peer; returning zero stops it as TAMRIK_HTTP_TIMED_OUT, so a
  // deadline or a cancellation that comes after the start still holds. NULL
  // when nothing can stop a transfer early.
  int (*keep_going)(void* sink);
};

struct tamrik_http_response {
  long status;        // the HTTP status, 0 when no response arrived
  int outcome;        // an enum tamrik_http_outcome
  char message[256];  // what went wrong, for people; empty when outcome is OK
};

typedef int (*tamrik_http_perform_fn)(const struct tamrik_http_request* request,
                                      struct tamrik_http_response* response);

// Performs one request. Returns the outcome (also stored in response->outcome).
// Never sends anything when the request is malformed or of another ABI version.
int tamrik_http_perform(const struct tamrik_http_request* request,
                        struct tamrik_http_response* response);

#ifdef __cplusplus
}
#endif
