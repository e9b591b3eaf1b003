#pragma once
// One HTTP exchange through libtamrik_http.so, opened on first use.
// Internal to the platform API client.

#include "host/protocol/http_transport.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrik::protocol::http_client::detail {

struct TransportRequest {
  std::string method;  // "GET" or "POST"
  std::string url;
  std::vector<std::string> headers;  // "Name: value"
  std::string body;
  std::chrono::milliseconds connect_timeout{10'000};
  std::chrono::milliseconds total_timeout{60'000};
  bool bypass_proxy = false;
  size_t max_body_bytes = 64u << 20;
};

struct TransportResponse {
  tamrik_http_outcome outcome = TAMRIK_HTTP_FAILED;
  long status = 0;
  std::string message;  // the transport's description of a failure
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // of the final response

  // The first header of that name (ASCII case ignored), trimmed.
  std::optional<std::string> header(std::string_view name) const;
};

// Performs the request with SIGPIPE held off for this thread, so a peer that
// drops the connection cannot kill the process. Transfer failures are in the
// outcome; throws HttpSupportMissingError when the library cannot be loaded.
TransportResponse perform(const TransportRequest& request);

}  // namespace tamrik::protocol::http_client::detail
