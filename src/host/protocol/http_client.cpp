// The platform API operations: paths, request bodies and answer shapes.

#include "host/protocol/http_client.hpp"

#include "core/text.hpp"
#include "core/utf8.hpp"
#include "host/protocol/api_request.hpp"

#include <stdexcept>

namespace tamrik::protocol::http_client {

namespace {

using detail::ApiAnswer;
using detail::ApiCall;
using detail::call_api;
using detail::project_path;

Json get_object(const Json& project_id, std::string_view api_key, std::string_view api_url, std::string_view suffix) {
  return call_api(api_key, api_url, {.method = "GET", .path = project_path(project_id) + std::string(suffix)}).body;
}

FetchedDocument get_conditional(const Json& project_id, std::string_view api_key, std::string_view api_url,
                                std::string_view suffix, const std::optional<std::string>& etag) {
  ApiAnswer answer =
      call_api(api_key, api_url,
               {.method = "GET", .path = project_path(project_id) + std::string(suffix), .if_none_match = etag});
  return {answer.status, std::move(answer.etag), std::move(answer.body)};
}

[[noreturn]] void malformed_state(const std::string& what) {
  throw InvalidResponseError("the platform's answer to the state request is malformed: " + what);
}

FetchedDocument document_of(const std::string& name, const Json& entry) {
  if (!entry.is_object()) malformed_state("document " + name + " is not a map");
  const auto status = entry.find("status");
  if (status == entry.end() || !status->is_number_integer()) {
    malformed_state("document " + name + " has no status");
  }
  FetchedDocument document{status->get<int>(), std::nullopt, nullptr};
  if (document.status != 200 && document.status != 304) {
    malformed_state("document " + name + " has status " + std::to_string(document.status));
  }
  const auto etag = entry.find("etag");
  if (etag != entry.end() && etag->is_string()) document.etag = etag->get<std::string>();
  if (document.status == 200) {
    const auto content = entry.find("content");
    if (content == entry.end()) malformed_state("document " + name + " has status 200 but no content");
    document.content = *content;
  }
  return document;
}

}  // namespace

Json upload_attestations(std::string_view api_key, std::string_view api_url, const Json& project_id, const Json& batch,
                         const std::optional<ExtraHeaders>& extra_headers) {
  if (!batch.is_array()) throw std::invalid_argument("upload_attestations needs a list of records");
  ApiCall call{
      .method = "POST",
      .path = project_path(project_id) + "/attestations",
      // Spliced as text: a batch can be large, and copying it into a wrapper
      // document would double the work.
      .body = "{\"attestations\":" + core::to_json_compact(batch) + "}",
  };
  if (extra_headers) call.extra_headers.assign(extra_headers->begin(), extra_headers->end());
  return call_api(api_key, api_url, call).body;
}

bool refused_as_too_large(const PlatformError& error) {
  constexpr int kContentTooLarge = 413;
  if (const auto* refusal = dynamic_cast<const AgentApiError*>(&error)) return refusal->status == kContentTooLarge;
  if (const auto* answered = dynamic_cast<const HTTPError*>(&error)) return answered->status == kContentTooLarge;
  return false;
}

Member fetch_member(std::string_view api_key, std::string_view api_url) {
  const Json answer = call_api(api_key, api_url, {.method = "GET", .path = "/v1/me"}).body;
  const auto label = answer.find("member");
  if (label == answer.end() || !label->is_string()) {
    throw InvalidResponseError("the platform at " + checked_api_url(api_url) +
                               " answered /v1/me without naming a member; check the API URL");
  }
  Member member{core::printable_text(label->get_ref<const std::string&>()), {}};
  const auto teams = answer.find("team_ids");
  if (teams != answer.end() && teams->is_array()) {
    for (const Json& team : *teams) {
      if (team.is_number_integer()) member.team_ids.push_back(team.get<long long>());
    }
  }
  return member;
}

Json resolve_project(std::string_view api_key, std::string_view api_url, std::string_view remote,
                     std::optional<long long> team_id) {
  const Json body{{"remote", std::string(remote)}, {"team_id", team_id ? Json(*team_id) : Json(nullptr)}};
  return call_api(api_key, api_url,
                  {.method = "POST", .path = "/v1/projects/resolve", .body = core::to_json_compact(body)})
      .body;
}

Json fetch_context(const Json& project_id, std::string_view api_key, std::string_view api_url) {
  return get_object(project_id, api_key, api_url, "/context");
}

Json fetch_system_context(const Json& project_id, std::string_view api_key, std::string_view api_url,
                          const std::vector<std::string>& systems) {
  std::string query;
  for (const std::string& system : systems) {
    if (!query.empty()) query += ',';
    query += core::percent_encoded(system);
  }
  return get_object(project_id, api_key, api_url, "/system-context?systems=" + query);
}

FetchedDocument fetch_declarative_state(const Json& project_id, std::string_view api_key, std::string_view api_url,
                                        const std::optional<std::string>& etag) {
  return get_conditional(project_id, api_key, api_url, "/state", etag);
}

DetailedState fetch_declarative_state_detailed(const Json& project_id, std::string_view api_key,
                                               std::string_view api_url,
                                               const std::map<std::string, std::string>& etags) {
  Json tags = Json::object();
  for (const auto& [name, tag] : etags) tags[name] = tag;
  const ApiAnswer answer = call_api(api_key, api_url,
                                    {.method = "POST",
                                     .path = project_path(project_id) + "/state/detailed",
                                     .body = core::to_json_compact(Json{{"etags", tags}})});
  const auto documents = answer.body.find("documents");
  if (documents == answer.body.end() || !documents->is_object()) malformed_state("no documents map");
  DetailedState state;
  for (const auto& [name, entry] : documents->items()) state.documents[name] = document_of(name, entry);
  return state;
}

FetchedDocument fetch_all_specs(const Json& project_id, std::string_view api_key, std::string_view api_url,
                                const std::optional<std::string>& etag) {
  return get_conditional(project_id, api_key, api_url, "/specs", etag);
}

Json fetch_custom_docs(const Json& project_id, std::string_view api_key, std::string_view api_url) {
  return get_object(project_id, api_key, api_url, "/docs");
}

Json fetch_skills(const Json& project_id, std::string_view api_key, std::string_view api_url) {
  return get_object(project_id, api_key, api_url, "/skills");
}

Json fetch_memories(const Json& project_id, std::string_view api_key, std::string_view api_url) {
  return get_object(project_id, api_key, api_url, "/memories");
}

Json fetch_guardrails(const Json& project_id, std::string_view api_key, std::string_view api_url) {
  return get_object(project_id, api_key, api_url, "/guardrails");
}

}  // namespace tamrik::protocol::http_client
