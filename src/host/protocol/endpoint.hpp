#pragma once
// Which API URLs the client may send a key to. Internal to the client.

#include <string>
#include <string_view>

namespace tamrik::protocol::http_client::detail {

struct Endpoint {
  std::string base;  // the API URL without trailing slashes
  std::string host;  // lower-case, without brackets or port
  bool loopback = false;
};

// Checks the configured API URL before anything is sent: https:// to any
// host, http:// only to this machine (localhost, 127.0.0.0/8, ::1), no
// credentials, query or fragment, no blanks or control characters. Throws
// ConfigurationError with what to fix.
Endpoint parse_endpoint(std::string_view api_url);

// True for "localhost", a dotted IPv4 address in 127.0.0.0/8, and "::1".
bool is_loopback_host(std::string_view host);

}  // namespace tamrik::protocol::http_client::detail
