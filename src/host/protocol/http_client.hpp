#pragma once
// The platform API client: project resolution, attestation upload and the
// project context fetches, over HTTPS with a bearer API key.
//
// Every failure is a PlatformError. Two kinds matter to callers:
// - AgentApiError: the platform answered and refused (a 4xx with an error
//   code). Its message is the platform's text for users, with the status.
// - UnreachableError and its subclasses: no usable answer at all (no
//   connection, a timeout, a 5xx, an answer that is not a JSON object).
//   Their class names are stable and say what happened without the message.
// The API key never appears in any message or log line.

#include "core/errors.hpp"
#include "core/json.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::protocol::http_client {

using core::Json;

// Refusal codes, as the platform sends them in error.code.
inline constexpr std::string_view CODE_KEY_REJECTED = "key_rejected";
inline constexpr std::string_view CODE_ACCOUNT_INACTIVE = "account_inactive";
inline constexpr std::string_view CODE_AMBIGUOUS_TEAM = "ambiguous_team";
inline constexpr std::string_view CODE_REPO_AMBIGUOUS = "repo_ambiguous";
inline constexpr std::string_view CODE_REPO_CONFLICT = "repo_conflict";
inline constexpr std::string_view CODE_NOT_A_MEMBER = "not_a_member";
inline constexpr std::string_view CODE_CAPACITY = "capacity";
inline constexpr std::string_view CODE_BAD_REMOTE = "bad_remote";

// Any failed platform request. This is the "runtime error" an upload raises:
// the caller keeps the batch pending and shows the message.
class PlatformError : public core::Error {
 protected:
  using core::Error::Error;
};

// A refusal by the platform.
class AgentApiError : public PlatformError {
 public:
  AgentApiError(const std::string& message, std::optional<std::string> refusal_code, int http_status)
      : PlatformError("AgentApiError", message), code(std::move(refusal_code)), status(http_status) {}

  std::optional<std::string> code;  // one of the CODE_* values, another code, or none
  int status;                       // the HTTP status of the refusal
};

// A request that must not be sent as configured: an http:// URL to a host
// that is not this machine (the key would cross the network in clear text),
// a URL that is not http(s), a key or project id that cannot be sent.
class ConfigurationError : public PlatformError {
 public:
  explicit ConfigurationError(const std::string& message) : PlatformError("ConfigurationError", message) {}
};

// The HTTP support library could not be loaded.
class HttpSupportMissingError : public PlatformError {
 public:
  explicit HttpSupportMissingError(const std::string& message) : PlatformError("HttpSupportMissingError", message) {}
};

// No usable answer from the platform.
class UnreachableError : public PlatformError {
 protected:
  using PlatformError::PlatformError;
};

// No connection: name lookup, connect, TLS, or a connection that broke.
class ConnectionError : public UnreachableError {
 public:
  explicit ConnectionError(const std::string& message) : UnreachableError("ConnectionError", message) {}
};

// The time limit (or the network budget) ran out.
class TimeoutError : public UnreachableError {
 public:
  explicit TimeoutError(const std::string& message) : UnreachableError("TimeoutError", message) {}
};

// A 5xx answer.
class ServerError : public UnreachableError {
 public:
  ServerError(const std::string& message, int http_status)
      : UnreachableError("ServerError", message), status(http_status) {}
  int status;
};

// Another status that carries no refusal code (a proxy's error page, say).
class HTTPError : public UnreachableError {
 public:
  HTTPError(const std::string& message, int http_status)
      : UnreachableError("HTTPError", message), status(http_status) {}
  int status;
};

// A success status whose body is not a JSON object, or is too large to hold.
class InvalidResponseError : public UnreachableError {
 public:
  explicit InvalidResponseError(const std::string& message) : UnreachableError("InvalidResponseError", message) {}
};

// A scope in which all platform requests share one deadline. Each request's
// connect and transfer limits are cut to what is left; a request started
// with nothing left fails at once with TimeoutError, without connecting.
//
// The scope is process-wide, not per thread: requests from any thread (a
// worker pool started inside the scope, say) are held to it. Scopes nest;
// the earliest deadline of all open scopes applies.
class NetworkBudget {
 public:
  explicit NetworkBudget(std::chrono::milliseconds total);
  ~NetworkBudget();
  NetworkBudget(const NetworkBudget&) = delete;
  NetworkBudget& operator=(const NetworkBudget&) = delete;

 private:
  std::multiset<std::chrono::steady_clock::time_point>::iterator entry_;
};

// `auto budget = network_budget(2.5);` Non-positive seconds leave no time.
[[nodiscard]] NetworkBudget network_budget(double seconds);

// Time left under the open budgets; none when no budget is open.
std::optional<std::chrono::milliseconds> network_time_left();

// A platform request under way, for a display of what a command waits on.
struct RequestInFlight {
  std::string method;
  std::string api_url;  // the API URL it went to, without trailing slashes
  std::string path;     // from "/v1/...", query included; never the key
  std::chrono::steady_clock::time_point started;
};

// The requests under way, from any thread.
struct RequestsInFlight {
  std::optional<RequestInFlight> oldest;  // none when no request is under way
  std::size_t count = 0;
};
RequestsInFlight requests_in_flight();

// Sets the function called each time the last request under way ends (on
// the thread that made it, after the request is no longer counted), or
// removes it when empty. One at a time; it must not start requests.
void on_requests_idle(std::function<void()> observer);

// The API URL without trailing slashes, when the client may send a key to
// it: https:// to any host, http:// only to this machine. Otherwise throws
// ConfigurationError saying what to fix. The check every request makes.
std::string checked_api_url(std::string_view api_url);

using ExtraHeaders = std::map<std::string, std::string>;

// Who a key belongs to, as the platform knows it.
struct Member {
  std::string label;  // the platform's text, control characters removed
  std::vector<long long> team_ids;
};

// GET /v1/me: checks the key and the URL with one request. A rejected key
// throws AgentApiError (401, CODE_KEY_REJECTED); an answer without a
// member throws InvalidResponseError; anything else as every request.
Member fetch_member(std::string_view api_key, std::string_view api_url);

// POST /v1/projects/<id>/attestations. `project_id` is an integer or text.
// Returns the platform's answer, whose optional `inserted` counts the stored
// records. Throws PlatformError (message: status and the platform's text).
Json upload_attestations(std::string_view api_key, std::string_view api_url, const Json& project_id, const Json& batch,
                         const std::optional<ExtraHeaders>& extra_headers = std::nullopt);

// Whether `error` refused a request body for its size: HTTP 413, with the
// platform's `too_large` code or without a code (a proxy in front of the
// platform answers with a page of its own).
bool refused_as_too_large(const PlatformError& error);

// POST /v1/projects/resolve. Returns the answer (projectId, title, created).
// A refusal throws AgentApiError; anything else that fails throws another
// PlatformError, meaning the platform could not be reached.
Json resolve_project(std::string_view api_key, std::string_view api_url, std::string_view remote,
                     std::optional<long long> team_id);

// One conditionally fetched document. Status 200 carries `content`; 304
// means the copy the caller holds (named by the ETag it sent) is current.
struct FetchedDocument {
  int status = 0;
  std::optional<std::string> etag;
  Json content;  // null unless status is 200
};

// Several documents answered in one round trip, by document name
// ("tamrikrules", "tamrikstate").
struct DetailedState {
  std::map<std::string, FetchedDocument> documents;
};

// GET /v1/projects/<id>/context: {"project": {...}, "systems": [...]}.
Json fetch_context(const Json& project_id, std::string_view api_key, std::string_view api_url);
// GET /v1/projects/<id>/system-context?systems=a,b: {"systems": {...}}.
Json fetch_system_context(const Json& project_id, std::string_view api_key, std::string_view api_url,
                          const std::vector<std::string>& systems);
// GET /v1/projects/<id>/state, conditional on `etag`.
FetchedDocument fetch_declarative_state(const Json& project_id, std::string_view api_key, std::string_view api_url,
                                        const std::optional<std::string>& etag = std::nullopt);
// POST /v1/projects/<id>/state/detailed with the stored tags by document.
DetailedState fetch_declarative_state_detailed(const Json& project_id, std::string_view api_key,
                                               std::string_view api_url,
                                               const std::map<std::string, std::string>& etags);
// GET /v1/projects/<id>/specs, conditional on `etag`: {"specs": [...]}.
FetchedDocument fetch_all_specs(const Json& project_id, std::string_view api_key, std::string_view api_url,
                                const std::optional<std::string>& etag = std::nullopt);
// GET /v1/projects/<id>/docs: {"docs": [...]}.
Json fetch_custom_docs(const Json& project_id, std::string_view api_key, std::string_view api_url);
// GET /v1/projects/<id>/skills: {"skills": [...]}.
Json fetch_skills(const Json& project_id, std::string_view api_key, std::string_view api_url);
// GET /v1/projects/<id>/memories: {"memories": [...]}.
Json fetch_memories(const Json& project_id, std::string_view api_key, std::string_view api_url);
// GET /v1/projects/<id>/guardrails: {"guardrails": {...}}.
Json fetch_guardrails(const Json& project_id, std::string_view api_key, std::string_view api_url);

}  // namespace tamrik::protocol::http_client
