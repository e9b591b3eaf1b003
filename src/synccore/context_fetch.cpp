#include "synccore/context_fetch.hpp"

#include "core/errors.hpp"
#include "core/log.hpp"
#include "core/worker_pool.hpp"
#include "host/protocol/http_client.hpp"
#include "synccore/diagnostics.hpp"

#include <functional>
#include <optional>
#include <vector>

namespace tamrik::synccore::detail {

namespace {

using core::Json;
namespace cache = services::context_cache;
namespace client = protocol::http_client;

struct Request {
  std::string_view key;
  std::string_view url;
  const Json& project_id;
  const std::map<std::string, std::string>& etags;

  std::optional<std::string> etag_of(std::string_view document) const {
    const auto it = etags.find(std::string(document));
    return it == etags.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
};

struct Fetch {
  std::string_view label;  // for the non-fatal log line; "" for a fetch the refresh needs
  std::vector<std::string_view> documents;
  std::function<cache::Documents(const Request&)> run;
};

// answer[key] when it has the expected type; the platform broke its
// contract otherwise, which counts as no usable answer.
Json member(const Json& answer, const char* key, Json::value_t type) {
  const auto it = answer.is_object() ? answer.find(key) : answer.end();
  if (it == answer.end() || it->type() != type) {
    throw client::InvalidResponseError(std::string("the platform's answer has no usable \"") + key + "\"");
  }
  return *it;
}

cache::Documents one(std::string_view name, Json content) {
  cache::Documents documents;
  documents[std::string(name)] = {.status = 200, .content = std::move(content)};
  return documents;
}

cache::Documents fetch_rules_and_state(const Request& r) {
  std::map<std::string, std::string> tags;
  for (std::string_view name : {cache::RULES, cache::STATE}) {
    if (std::optional<std::string> tag = r.etag_of(name)) tags[std::string(name)] = *tag;
  }
  const client::DetailedState answer = client::fetch_declarative_state_detailed(r.project_id, r.key, r.url, tags);
  cache::Documents documents;
  for (std::string_view name : {cache::RULES, cache::STATE}) {
    const auto it = answer.documents.find(std::string(name));
    if (it == answer.documents.end()) {
      throw client::InvalidResponseError("the platform's answer has no " + std::string(name) + " document");
    }
    const client::FetchedDocument& fetched = it->second;
    if (fetched.status == 200 && !fetched.content.is_object()) {
      throw client::InvalidResponseError("the platform's " + std::string(name) + " document is not a map");
    }
    documents[std::string(name)] = {.status = fetched.status, .etag = fetched.etag, .content = fetched.content};
  }
  return documents;
}

cache::Documents fetch_project(const Request& r) {
  const Json context = client::fetch_context(r.project_id, r.key, r.url);
  std::vector<std::string> systems;
  if (context.contains("systems") && context["systems"].is_array()) {
    for (const Json& name : context["systems"]) {
      if (name.is_string()) systems.push_back(name.get<std::string>());
    }
  }
  Json content = Json::object();
  content["project"] = context.contains("project") ? context["project"] : Json();
  content["systems"] = systems.empty() ? Json::object()
                                       : member(client::fetch_system_context(r.project_id, r.key, r.url, systems),
                                                "systems", Json::value_t::object);
  return one(cache::CONTEXT, std::move(content));
}

cache::Documents fetch_specs(const Request& r) {
  const client::FetchedDocument fetched = client::fetch_all_specs(r.project_id, r.key, r.url, r.etag_of(cache::SPECS));
  cache::Documents documents;
  documents[std::string(cache::SPECS)] = {
      .status = fetched.status,
      .etag = fetched.etag,
      .content = fetched.status == 200 ? member(fetched.content, "specs", Json::value_t::array) : Json()};
  return documents;
}

std::vector<Fetch> fetches() {
  using T = Json::value_t;
  return {
      {"", {cache::RULES, cache::STATE}, fetch_rules_and_state},
      {"", {cache::CONTEXT}, fetch_project},
      {"",
       {cache::MEMORIES},
       [](const Request& r) {
         return one(cache::MEMORIES, member(client::fetch_memories(r.project_id, r.key, r.url), "memories", T::array));
       }},
      {"Specs", {cache::SPECS}, fetch_specs},
      {"Guardrails",
       {cache::GUARDRAILS},
       [](const Request& r) {
         return one(cache::GUARDRAILS,
                    member(client::fetch_guardrails(r.project_id, r.key, r.url), "guardrails", T::object));
       }},
      {"Skills",
       {cache::SKILLS},
       [](const Request& r) {
         return one(cache::SKILLS, member(client::fetch_skills(r.project_id, r.key, r.url), "skills", T::array));
       }},
      {"Custom docs",
       {cache::CUSTOM_DOCS},
       [](const Request& r) {
         return one(cache::CUSTOM_DOCS,
                    member(client::fetch_custom_docs(r.project_id, r.key, r.url), "docs", T::array));
       }},
  };
}

// The HTTP status a failed fetch got: the refusal's or the error answer's;
// 0 when no answer came at all.
int status_of(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const client::AgentApiError& e) {
    return e.status;
  } catch (const client::ServerError& e) {
    return e.status;
  } catch (const client::HTTPError& e) {
    return e.status;
  } catch (...) {
    return 0;
  }
}

std::string class_name_of(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return core::class_name_of(e);
  } catch (...) {
    return "UnknownError";
  }
}

}  // namespace

FetchedContext fetch_context_documents(std::string_view api_key, std::string_view api_url, const Json& project_id,
                                       const std::map<std::string, std::string>& etags, std::size_t workers) {
  const Request request{api_key, api_url, project_id, etags};
  const std::vector<Fetch> all = fetches();
  std::vector<cache::Documents> answers(all.size());
  std::vector<std::function<void()>> jobs;
  for (size_t i = 0; i < all.size(); ++i) jobs.push_back([&, i] { answers[i] = all[i].run(request); });
  const std::vector<std::exception_ptr> failures = core::run_on_workers(jobs, workers);

  FetchedContext fetched;
  for (size_t i = 0; i < all.size(); ++i) {
    if (!failures[i]) {
      fetched.documents.merge(answers[i]);
      continue;
    }
    for (std::string_view name : all[i].documents)
      fetched.documents[std::string(name)] = {.status = status_of(failures[i])};
    if (!all[i].label.empty()) {
      logger.debug("%s fetch failed (non-fatal): %s", {all[i].label, class_name_of(failures[i])});
    } else if (!fetched.needed_failure) {
      fetched.needed_failure = failures[i];
    }
  }
  return fetched;
}

}  // namespace tamrik::synccore::detail
