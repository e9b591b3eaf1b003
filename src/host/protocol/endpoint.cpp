#include "host/protocol/endpoint.hpp"

#include "host/protocol/http_client.hpp"
#include "core/text.hpp"

#include <charconv>

namespace tamrik::protocol::http_client::detail {

namespace {

bool is_octet(std::string_view text) {
  if (text.empty() || text.size() > 3) return false;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value <= 255;
}

// Exactly four decimal octets, the first 127. Shorthands such as "127.1"
// are refused rather than guessed at.
bool is_ipv4_loopback(std::string_view host) {
  std::string_view rest = host;
  for (int part = 0; part < 4; ++part) {
    const auto dot = rest.find('.');
    const std::string_view octet = part < 3 ? rest.substr(0, dot) : rest;
    if ((part < 3 && dot == std::string_view::npos) || !is_octet(octet)) return false;
    if (part == 0 && octet != "127") return false;
    if (part < 3) rest.remove_prefix(dot + 1);
  }
  return true;
}

// The host part of an authority ("host", "host:port", "[v6]:port").
std::string_view host_of(std::string_view authority) {
  if (authority.starts_with('[')) {
    const auto close = authority.find(']');
    return close == std::string_view::npos ? std::string_view{} : authority.substr(1, close - 1);
  }
  return authority.substr(0, authority.find(':'));
}

}  // namespace

bool is_loopback_host(std::string_view host) {
  const std::string lowered = core::lower_ascii(host);
  return lowered == "localhost" || lowered == "::1" || is_ipv4_loopback(lowered);
}

Endpoint parse_endpoint(std::string_view api_url) {
  std::string_view url = api_url;
  while (url.ends_with('/')) url.remove_suffix(1);
  if (url.empty()) throw ConfigurationError("no API URL is configured; run `tamrik auth login`");
  for (const char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) {
      throw ConfigurationError("the API URL contains blanks or control characters; check its configuration");
    }
  }
  const auto scheme_end = url.find("://");
  const std::string scheme = core::lower_ascii(url.substr(0, scheme_end));
  if (scheme_end == std::string_view::npos || (scheme != "https" && scheme != "http")) {
    throw ConfigurationError("the API URL must start with https://");
  }
  if (url.find_first_of("?#") != std::string_view::npos) {
    throw ConfigurationError("the API URL must not contain '?' or '#'");
  }
  const std::string_view after_scheme = url.substr(scheme_end + 3);
  const std::string_view authority = after_scheme.substr(0, after_scheme.find('/'));
  if (authority.find('@') != std::string_view::npos) {
    throw ConfigurationError("the API URL must not contain a user name or password; the API key is sent on its own");
  }
  const std::string host = core::lower_ascii(host_of(authority));
  if (host.empty()) throw ConfigurationError("the API URL names no host");

  Endpoint endpoint{std::string(url), host, is_loopback_host(host)};
  if (scheme == "http" && !endpoint.loopback) {
    throw ConfigurationError("refusing to send the API key in clear text to " + host +
                             ": http:// is only allowed for this machine (localhost, 127.0.0.1, "
                             "::1); use an https:// API URL");
  }
  return endpoint;
}

}  // namespace tamrik::protocol::http_client::detail

namespace tamrik::protocol::http_client {

std::string checked_api_url(std::string_view api_url) { return detail::parse_endpoint(api_url).base; }

}  // namespace tamrik::protocol::http_client
