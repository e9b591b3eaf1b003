#include "synccore/project.hpp"

#include "core/errors.hpp"
#include "core/json.hpp"
#include "core/utf8.hpp"
#include "host/services/repo_identity.hpp"
#include "host/services/local_config.hpp"
#include "host/services/shared.hpp"
#include "synccore/pending_filing.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tamrik::synccore {

namespace {

namespace client = protocol::http_client;
namespace shared = services::shared;
using core::Json;

// The local configuration, or an empty map when it is missing or cannot be
// read: a broken configuration must not turn resolution into a failure that
// loses the caller's records. Saving reads it again and reports it then.
services::LocalConfig config_or_empty(const path& repo_root) {
  try {
    return services::read_local_config(repo_root);
  } catch (const core::Error&) {
    return {};
  }
}

// `value` as an integer: an integer, a float without a fraction, or text
// holding one (surrounding blanks allowed). Booleans are not numbers here.
std::optional<long long> as_integer(const Json& value) {
  if (value.is_number_integer()) return value.get<long long>();
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (std::trunc(number) != number || std::fabs(number) > 9.0e18) return std::nullopt;
    return static_cast<long long>(number);
  }
  if (!value.is_string()) return std::nullopt;
  const std::string& text = value.get_ref<const std::string&>();
  const size_t first = text.find_first_not_of(" \t\r\n");
  const size_t last = text.find_last_not_of(" \t\r\n");
  if (first == std::string::npos) return std::nullopt;
  const char* begin = text.data() + first;
  const char* end = text.data() + last + 1;
  if (*begin == '+') ++begin;
  long long number = 0;
  const auto [stop, error] = std::from_chars(begin, end, number);
  if (error != std::errc() || stop != end) return std::nullopt;
  return number;
}

// The configured team, when the configuration names a usable one.
std::optional<long long> configured_team_id(const path& repo_root) {
  return as_integer(config_or_empty(repo_root).team_id);
}

}  // namespace

ProjectResolution resolve_project_id(const path& repo_root, std::string_view api_key, std::string_view api_url,
                                     std::optional<long long> team_id) {
  if (api_key.empty() || api_url.empty()) return {.reason = "not signed in", .code = std::string(NOT_SIGNED_IN)};
  if (!team_id) team_id = configured_team_id(repo_root);
  const std::optional<std::string> remote = services::repo_identity::origin_remote(repo_root);
  if (!remote) return {.reason = "this repo has no origin remote", .code = std::string(NO_ORIGIN)};

  Json answer;
  try {
    answer = client::resolve_project(api_key, api_url, *remote, team_id);
  } catch (const client::AgentApiError& e) {
    // A refusal: its message is written for users and never holds the key.
    return {.reason = e.what(), .code = e.code};
  } catch (const std::exception& e) {
    // Only the class name: the message may hold the URL or a response body.
    return {.reason = "could not reach tamrik (" + core::class_name_of(e) + ")", .code = failure_code(e)};
  }

  // Zero or a negative id would be saved and then read as "no project" by
  // every later sync, which would resolve again each time.
  const auto id = answer.find("projectId");
  const std::optional<long long> project_id = id == answer.end() ? std::nullopt : as_integer(*id);
  if (!project_id || *project_id <= 0) {
    return {.reason = "the server returned no usable project id", .code = "bad_response"};
  }

  try {
    Json config = shared::load_local_config(repo_root);
    config["project_id"] = *project_id;
    if (team_id) config["team_id"] = *team_id;
    shared::save_local_config(repo_root, config);
  } catch (const std::exception& e) {
    // Not ok: without the saved id the next sync must resolve again.
    return {.reason = "could not save the project id locally (" + core::class_name_of(e) + ")",
            .code = std::string(CONFIG_UNWRITABLE)};
  }

  // The title is the server's text, printed to the person: no terminal controls.
  std::optional<std::string> title = core::text_member(answer, "title");
  if (title) title = core::printable_text(*title);
  return {.project_id = project_id, .title = std::move(title), .created = core::is_set(answer, "created")};
}

std::pair<AttestationResult, std::optional<ProjectResolution>> resolve_if_unlinked(const Checkout& checkout,
                                                                                   std::string_view api_key,
                                                                                   std::string_view api_url,
                                                                                   std::optional<long long> team_id) {
  // Guarded: between `tamrik attest` and its commit the pending attestation
  // belongs to a change HEAD does not hold yet.
  AttestationResult archived = _file_committed_attestation(checkout).result;
  if (core::is_set(config_or_empty(checkout.home).project_id)) return {std::move(archived), std::nullopt};
  return {std::move(archived), resolve_project_id(checkout.home, api_key, api_url, team_id)};
}

std::string remedy(std::optional<std::string_view> code) {
  const std::string_view key = code.value_or("");
  for (const auto& [known, text] : _REMEDIES) {
    if (known == key) return std::string(text);
  }
  return std::string(_REMEDY_UNREACHABLE);
}

std::optional<std::string> failure_code(const std::exception& error) {
  if (const auto* refusal = dynamic_cast<const client::AgentApiError*>(&error)) return refusal->code;
  if (dynamic_cast<const client::ConfigurationError*>(&error) != nullptr) return std::string(BAD_CONFIGURATION);
  return std::string(UNREACHABLE);
}

std::optional<std::string> failure_advice(std::optional<std::string_view> code) {
  if (!code) return std::nullopt;
  if (*code == client::CODE_KEY_REJECTED) return "API key rejected: run `tamrik auth login`.";
  const bool known =
      std::any_of(_REMEDIES.begin(), _REMEDIES.end(), [&](const auto& entry) { return entry.first == *code; });
  return known ? std::optional<std::string>(remedy(code)) : std::nullopt;
}

}  // namespace tamrik::synccore
