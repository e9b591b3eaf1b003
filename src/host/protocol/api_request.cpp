#include "host/protocol/api_request.hpp"

#include "core/utf8.hpp"
#include "core/log.hpp"
#include "host/protocol/endpoint.hpp"
#include "host/protocol/http_client.hpp"
#include "host/protocol/requests_in_flight.hpp"
#include "host/protocol/transport.hpp"
#include "core/text.hpp"

#include <algorithm>
#include <chrono>

namespace tamrik::protocol::http_client::detail {

namespace {

using std::chrono::milliseconds;

const core::Logger logger("protocol.http_client");

constexpr milliseconds kConnectLimit{10'000};
constexpr milliseconds kTransferLimit{60'000};
constexpr size_t kMaxAnswerBytes = 64u << 20;
constexpr size_t kMaxShownServerText = 300;

// A header value must not be able to start another header.
bool sendable_in_header(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

bool valid_header_name(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

// Whatever reaches a message: the key removed wherever it occurs (a server
// or proxy may echo the request), control characters flattened, and long
// text cut at a character boundary.
std::string shown(std::string_view text, std::string_view api_key) {
  std::string out = core::printable_text(text);
  if (!api_key.empty()) {
    for (auto at = out.find(api_key); at != std::string::npos; at = out.find(api_key, at)) {
      out.replace(at, api_key.size(), "[redacted]");
    }
  }
  if (out.size() > kMaxShownServerText) {
    size_t cut = kMaxShownServerText;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out += "...";
  }
  return out;
}

std::vector<std::string> request_headers(std::string_view api_key, const ApiCall& call) {
  std::vector<std::string> headers{
      "Authorization: Bearer " + std::string(api_key),
      "Accept: application/json",
      "User-Agent: tamrik/" TAMRIK_VERSION,
  };
  if (call.body) headers.emplace_back("Content-Type: application/json");
  if (call.if_none_match && sendable_in_header(*call.if_none_match)) {
    headers.push_back("If-None-Match: " + *call.if_none_match);
  }
  for (const auto& [name, value] : call.extra_headers) {
    if (!valid_header_name(name) || !sendable_in_header(value)) {
      // A session id from the environment must not break an upload.
      logger.debug("Header %s not sent: its name or value cannot be sent safely", {name});
      continue;
    }
    headers.push_back(name + ": " + value);
  }
  return headers;
}

// The connect and transfer limits, cut to what the network budget leaves.
void apply_limits(TransportRequest& request, const Endpoint& endpoint) {
  request.connect_timeout = kConnectLimit;
  request.total_timeout = kTransferLimit;
  const std::optional<milliseconds> left = network_time_left();
  if (!left) return;
  if (*left <= milliseconds(0)) {
    throw TimeoutError("the time allowed for network requests ran out before the request to " + endpoint.base +
                       " was sent");
  }
  request.connect_timeout = std::min(request.connect_timeout, *left);
  request.total_timeout = std::min(request.total_timeout, *left);
}

[[noreturn]] void throw_transfer_failure(const TransportResponse& response, const Endpoint& endpoint,
                                         const TransportRequest& request, std::string_view api_key) {
  const std::string detail = shown(response.message, api_key);
  switch (response.outcome) {
    case TAMRIK_HTTP_TIMED_OUT:
      throw TimeoutError("the platform at " + endpoint.base + " did not answer within " +
                         std::to_string(request.total_timeout.count()) + " ms (" + detail + ")");
    case TAMRIK_HTTP_TOO_LARGE:
      throw InvalidResponseError("the answer from the platform at " + endpoint.base + " is larger than " +
                                 std::to_string(kMaxAnswerBytes >> 20) + " MiB; it was not read");
    default:
      throw ConnectionError("could not reach the platform at " + endpoint.base + ": " + detail +
                            "; check the network connection and the API URL");
  }
}

// The error object of a refusal body, when the body has one.
struct ErrorBody {
  std::optional<std::string> code;
  std::string message;
};

ErrorBody error_in(const std::string& body, std::string_view api_key) {
  const std::optional<core::Json> parsed = core::parse_json(body);
  if (!parsed || !parsed->is_object()) return {};
  const auto error = parsed->find("error");
  if (error == parsed->end() || !error->is_object()) return {};
  ErrorBody found;
  const auto code = error->find("code");
  if (code != error->end() && code->is_string() && !code->get_ref<const std::string&>().empty()) {
    found.code = shown(code->get_ref<const std::string&>(), api_key);
  }
  found.message = shown(core::get_text(*error, "message"), api_key);
  return found;
}

[[noreturn]] void throw_status_failure(const TransportResponse& response, const Endpoint& endpoint,
                                       std::string_view api_key) {
  const int status = static_cast<int>(response.status);
  const std::string status_text = "HTTP " + std::to_string(status);
  const ErrorBody error = error_in(response.body, api_key);
  if (status >= 400 && status < 500 && error.code) {
    const std::string message =
        error.message.empty() ? "the platform refused the request (" + *error.code + ")" : error.message;
    throw AgentApiError(message + " (" + status_text + ")", error.code, status);
  }
  const std::string said = error.message.empty() ? "" : ": " + error.message;
  if (status >= 500) {
    throw ServerError("the platform at " + endpoint.base + " failed with " + status_text + said + "; try again later",
                      status);
  }
  throw HTTPError("the platform at " + endpoint.base + " answered " + status_text + said + "; check the API URL",
                  status);
}

ApiAnswer answer_of(const TransportResponse& response, const Endpoint& endpoint) {
  const std::string_view body = response.body;
  if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    return {static_cast<int>(response.status), core::Json::object(), response.header("ETag")};
  }
  std::optional<core::Json> parsed = core::parse_json(body);
  if (!parsed || !parsed->is_object()) {
    throw InvalidResponseError("the platform at " + endpoint.base + " answered HTTP " +
                               std::to_string(response.status) +
                               " with a body that is not a JSON object; check the API URL");
  }
  return {static_cast<int>(response.status), std::move(*parsed), response.header("ETag")};
}

}  // namespace

ApiAnswer call_api(std::string_view api_key, std::string_view api_url, const ApiCall& call) {
  const Endpoint endpoint = parse_endpoint(api_url);
  if (!sendable_in_header(api_key)) {
    throw ConfigurationError("the API key contains line breaks and cannot be sent; run `tamrik auth login`");
  }
  TransportRequest request{
      .method = call.method,
      .url = endpoint.base + call.path,
      .headers = request_headers(api_key, call),
      .body = call.body.value_or(std::string()),
      .bypass_proxy = endpoint.loopback,
      .max_body_bytes = kMaxAnswerBytes,
  };
  apply_limits(request, endpoint);

  const auto started = std::chrono::steady_clock::now();
  const TransportResponse response = [&] {
    const CountedRequest under_way(call.method, endpoint.base, call.path);
    return perform(request);
  }();
  const auto took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
  logger.debug("%s %s -> %s in %s ms",
               {request.method, request.url,
                response.outcome == TAMRIK_HTTP_OK ? std::to_string(response.status) : shown(response.message, api_key),
                std::to_string(took.count())});

  if (response.outcome != TAMRIK_HTTP_OK) throw_transfer_failure(response, endpoint, request, api_key);
  if (response.status == 304 && call.if_none_match) {
    return {304, nullptr, response.header("ETag").value_or(*call.if_none_match)};
  }
  if (response.status < 200 || response.status > 299) throw_status_failure(response, endpoint, api_key);
  return answer_of(response, endpoint);
}

std::string project_path(const core::Json& project_id) {
  if (project_id.is_number_unsigned() || (project_id.is_number_integer() && project_id.get<long long>() >= 0)) {
    return "/v1/projects/" + project_id.dump();
  }
  if (project_id.is_string()) {
    const auto& text = project_id.get_ref<const std::string&>();
    const bool safe = !text.empty() && text.size() <= 64 && std::all_of(text.begin(), text.end(), [](char c) {
      return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
    if (safe) return "/v1/projects/" + text;
  }
  throw ConfigurationError("the project id " + shown(core::to_json_compact(project_id), {}) +
                           " cannot name a platform project; link the repository again with `tamrik sync`");
}

}  // namespace tamrik::protocol::http_client::detail
