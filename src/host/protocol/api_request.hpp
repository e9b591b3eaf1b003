#pragma once
// One platform API call: headers, time limits, and the mapping of every
// outcome to an answer or a PlatformError. Internal to the client.

#include "core/json.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrik::protocol::http_client::detail {

struct ApiCall {
  std::string method{};               // "GET" or "POST"
  std::string path{};                 // from "/v1/...", query included
  std::optional<std::string> body{};  // JSON text, sent with POST
  std::vector<std::pair<std::string, std::string>> extra_headers{};
  std::optional<std::string> if_none_match{};  // makes 304 an answer
};

struct ApiAnswer {
  int status = 0;                   // a 2xx, or 304 for a conditional call
  core::Json body;                  // a JSON object; null for 304
  std::optional<std::string> etag;  // the answer's ETag (the sent one on 304 without)
};

// Throws ConfigurationError before sending when the URL, key or a header
// cannot be sent safely; TimeoutError at once when the network budget is
// spent; the PlatformError matching any failed exchange otherwise.
ApiAnswer call_api(std::string_view api_key, std::string_view api_url, const ApiCall& call);

// "/v1/projects/<id>" for an integer id or a text id of letters, digits,
// '-' and '_'. Anything else throws ConfigurationError: an id from a file
// never becomes part of a URL unchecked.
std::string project_path(const core::Json& project_id);

}  // namespace tamrik::protocol::http_client::detail
