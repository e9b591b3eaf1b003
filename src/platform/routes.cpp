#include "platform/routes.hpp"

#include "core/json.hpp"
#include "platform/body_length.hpp"
#include "platform/callers.hpp"
#include "platform/context_files.hpp"
#include "platform/dashboard_routes.hpp"
#include "platform/record_richness.hpp"
#include "platform/remote_name.hpp"
#include "platform/server_log.hpp"
#include "platform/storage.hpp"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <regex>
#include <utility>

namespace tamrik::platform {

namespace {

using core::Json;
using httplib::Request;
using httplib::Response;

constexpr size_t kDefaultListLimit = 50;
constexpr size_t kMaxListLimit = 1000;
constexpr size_t kMaxCommitLength = 128;
constexpr size_t kMaxSessionIdLength = 256;
constexpr const char* kProjectPath = R"(/v1/projects/(\d{1,18}))";
constexpr const char* kTooLarge = "the request body is larger than 8 MiB; send fewer records at a time";

// A request refused with a status, a code, a message for users and, for
// some codes, more fields of the error.
struct ApiFailure {
  int status;
  std::string code;
  std::string message;
  Json details = Json::object();
};

void send_json(Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(core::to_json_compact(body), "application/json");
}

void send_error(Response& res, int status, std::string_view code, std::string_view message,
                Json details = Json::object()) {
  details["code"] = code;
  details["message"] = message;
  send_json(res, status, {{"error", std::move(details)}});
}

void send_failure(Response& res, const ApiFailure& failure) {
  send_error(res, failure.status, failure.code, failure.message, failure.details);
}

// The answer while the database is away; the reason goes to the log only.
ApiFailure unavailable(const StorageUnavailable& e) {
  log_line(std::string("tamrik-platform: request failed: ") + e.what() + "\n");
  return ApiFailure{503, "unavailable", "the platform's database is not reachable now; try again shortly"};
}

// "1", "1 and 2", "1, 2 and 3".
std::string listed_ids(const std::vector<long long>& ids) {
  std::string text;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i > 0) text += i + 1 == ids.size() ? " and " : ", ";
    text += std::to_string(ids[i]);
  }
  return text;
}

// The caller of the request this thread is serving, found when its headers
// came in (the handlers run on the same thread right after).
thread_local std::optional<Caller> request_caller;

// Whether an If-None-Match header names `etag` (or is "*").
bool names_etag(std::string_view header, std::string_view etag) {
  while (!header.empty()) {
    const auto comma = header.find(',');
    std::string_view candidate = header.substr(0, comma);
    while (candidate.starts_with(' ')) candidate.remove_prefix(1);
    while (candidate.ends_with(' ')) candidate.remove_suffix(1);
    if (candidate.starts_with("W/")) candidate.remove_prefix(2);
    if (candidate == etag || candidate == "*") return true;
    header = comma == std::string_view::npos ? std::string_view{} : header.substr(comma + 1);
  }
  return false;
}

void send_conditional(const Request& req, Response& res, const Json& document) {
  const std::string etag = etag_of(document);
  res.set_header("ETag", etag);
  if (names_etag(req.get_header_value("If-None-Match"), etag)) {
    res.status = 304;
    return;
  }
  send_json(res, 200, document);
}

// The body, read whole up to the limit. A declared length over the limit
// was refused before the body; a chunked body declares none, so the limit is
// enforced here as it arrives, and reading stops at the first chunk past it
// (the rest is never read, and the connection ends with the answer).
std::string read_body(const httplib::ContentReader& reader) {
  std::string body;
  bool too_large = false;
  const bool complete = reader([&](const char* data, size_t size) {
    too_large = size > kMaxRequestBytes - body.size();
    if (!too_large) body.append(data, size);
    return !too_large;
  });
  if (too_large) throw ApiFailure{413, "too_large", kTooLarge};
  if (!complete) throw ApiFailure{400, "bad_request", "the request body could not be read"};
  return body;
}

Json json_object_of(const std::string& body) {
  std::optional<Json> parsed = core::parse_json(body);
  if (!parsed || !parsed->is_object()) {
    throw ApiFailure{400, "bad_request", "the request body must be a JSON object"};
  }
  return std::move(*parsed);
}

// Whether `text` can name a commit: not empty, not too long, and without
// control characters (which no commit name has, and PostgreSQL's text
// cannot hold a NUL).
bool usable_commit(const std::string& text) {
  return !text.empty() && text.size() <= kMaxCommitLength &&
         std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The commits a record names in `rewritten_from` (absent or null: none);
// nullopt when that is not a list of commits.
std::optional<std::vector<std::string>> rewritten_from(const Json& record) {
  std::vector<std::string> commits;
  const auto list = record.find("rewritten_from");
  if (list == record.end() || list->is_null()) return commits;
  if (!list->is_array()) return std::nullopt;
  for (const Json& commit : *list) {
    if (!commit.is_string() || !usable_commit(commit.get_ref<const std::string&>())) return std::nullopt;
    commits.push_back(commit.get<std::string>());
  }
  return commits;
}

RecordToStore record_to_store(const Json& record, size_t index) {
  const std::string commit = record.is_object() ? core::get_text(record, "commit") : "";
  if (!usable_commit(commit)) {
    throw ApiFailure{422, "bad_record", "record " + std::to_string(index) + " has no usable commit"};
  }
  std::optional<std::vector<std::string>> replaced = rewritten_from(record);
  if (!replaced) {
    throw ApiFailure{422, "bad_record",
                     "record " + std::to_string(index) + " has a rewritten_from that is not a list of commits"};
  }
  // `synced` is the client's own "not yet sent" flag, false on every record
  // it sends: once stored it says nothing true.
  Json stored = record;
  stored.erase("synced");
  return {commit, core::to_json_compact(stored), record_richness(record), std::move(*replaced), record_facts(record)};
}

// The flag `name` of a listing: absent or 0 is false, 1 true.
bool flag_param(const Request& req, const std::string& name) {
  if (!req.has_param(name)) return false;
  const std::string value = req.get_param_value(name);
  if (value != "0" && value != "1") throw ApiFailure{400, "bad_request", name + " must be 0 or 1"};
  return value == "1";
}

class Api {
 public:
  Api(Storage& storage, const ContextFiles& context, const Callers& callers)
      : storage_(storage), context_(context), callers_(callers) {}

  using GetHandler = void (Api::*)(const Request&, Response&);
  using PostHandler = void (Api::*)(const Request&, Response&, const Json&);

  // Registers an endpoint for the checks made before the body is read.
  void add_route(const std::string& method, const std::string& pattern) {
    routes_.push_back({method, std::regex(pattern)});
  }

  // Why a request is refused as soon as its headers are in, if it is: an
  // unknown endpoint, a key not accepted, a body declared over the limit.
  // Not a byte of the body is read for these.
  std::optional<ApiFailure> refusal(const Request& req) const {
    // Pages check their own session; they take small forms only.
    if (is_dashboard_path(req.path)) {
      const std::optional<size_t> length = declared_body_length(req);
      if (req.has_header("Transfer-Encoding") || !length || *length > kMaxFormBytes) {
        return ApiFailure{413, "too_large", "a dashboard form is at most 16 KiB, sent with a Content-Length"};
      }
      return std::nullopt;
    }
    if (!has_route(req)) {
      return ApiFailure{404, "not_found", "no such endpoint: " + req.method + " " + req.path.substr(0, 200)};
    }
    try {
      request_caller = callers_.identify(req.get_header_value("Authorization"));
    } catch (const StorageUnavailable& e) {
      return unavailable(e);
    }
    if (!request_caller) return ApiFailure{401, "key_rejected", "the API key was not accepted"};
    if (req.has_header("Transfer-Encoding")) {
      // The limit is then enforced as the chunks arrive (read_body).
      if (is_chunked(req)) return std::nullopt;
      return ApiFailure{400, "bad_request", "send the request body with a Content-Length, or chunked"};
    }
    const std::optional<size_t> length = declared_body_length(req);
    if (!length) return ApiFailure{400, "bad_request", "the Content-Length header is not a number"};
    if (*length > kMaxRequestBytes) return ApiFailure{413, "too_large", kTooLarge};
    return std::nullopt;
  }

  // Handlers run once the request passed `refusal`; every failure becomes a
  // JSON error answer.
  void get(const Request& req, Response& res, GetHandler handler) {
    guarded(res, [&] { (this->*handler)(req, res); });
  }

  void post(const Request& req, Response& res, const httplib::ContentReader& reader, PostHandler handler) {
    guarded(res, [&] { (this->*handler)(req, res, json_object_of(read_body(reader))); });
  }

  // Who the key belongs to: what a client checks a key and URL with before
  // it stores them.
  void me(const Request&, Response& res) {
    const Caller& who = caller();
    Json answer = {{"member", who.member}};
    if (who.member_id) answer["member_id"] = *who.member_id;
    answer["team_ids"] = who.team_ids;
    send_json(res, 200, answer);
  }

  void resolve(const Request&, Response& res, const Json& body) {
    const auto remote = body.find("remote");
    const auto team = body.find("team_id");
    if (team != body.end() && !team->is_null() && !team->is_number_integer()) {
      throw ApiFailure{400, "bad_request", "team_id must be an integer or null"};
    }
    const std::optional<std::string> name =
        remote != body.end() && remote->is_string() ? normalise_remote(remote->get<std::string>()) : std::nullopt;
    if (!name) {
      throw ApiFailure{422, "bad_remote", "the origin remote does not name a repository this platform can identify"};
    }
    const long long team_id = team_of_resolve(
        team == body.end() || team->is_null() ? std::nullopt : std::optional<long long>(team->get<long long>()));
    const Resolution resolution = storage_.resolve_project(team_id, *name, repository_name(*name));
    send_json(
        res, 200,
        {{"projectId", resolution.project.id}, {"title", resolution.project.title}, {"created", resolution.created}});
  }

  void upload(const Request& req, Response& res, const Json& body) {
    const Project project = project_of(req);
    const auto list = body.find("attestations");
    if (list == body.end() || !list->is_array()) {
      throw ApiFailure{400, "bad_request", "the body must hold an \"attestations\" list"};
    }
    std::vector<RecordToStore> records;
    records.reserve(list->size());
    for (size_t i = 0; i < list->size(); ++i) records.push_back(record_to_store((*list)[i], i));
    std::optional<std::string> session;
    const std::string header = req.get_header_value("X-Agent-Session-Id");
    if (!header.empty() && header.size() <= kMaxSessionIdLength) session = header;
    const size_t stored = storage_.store_attestations(project.id, records, session);
    send_json(res, 200, {{"inserted", stored}});
  }

  void list(const Request& req, Response& res) {
    const Project project = project_of(req);
    size_t limit = kDefaultListLimit;
    if (req.has_param("limit")) {
      const std::string text = req.get_param_value("limit");
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), limit);
      if (error != std::errc() || end != text.data() + text.size() || limit == 0 || limit > kMaxListLimit) {
        throw ApiFailure{400, "bad_request", "limit must be a number from 1 to 1000"};
      }
    }
    std::optional<std::string> after;
    if (req.has_param("after")) after = req.get_param_value("after");
    const bool include_superseded = flag_param(req, "include_superseded");
    std::optional<std::vector<Json>> records = storage_.list_attestations(project.id, limit, after, include_superseded);
    if (!records) throw ApiFailure{400, "bad_request", "no stored record for commit " + *after};
    send_json(res, 200, {{"attestations", std::move(*records)}});
  }

  void detailed_state(const Request& req, Response& res, const Json& body) {
    project_of(req);
    const auto etags = body.find("etags");
    if (etags != body.end() && !etags->is_null() && !etags->is_object()) {
      throw ApiFailure{400, "bad_request", "etags must be a map from document name to tag"};
    }
    Json documents = Json::object();
    for (const auto& [name, content] : {std::pair<std::string, Json>{"tamrikrules", context_.rules()},
                                        std::pair<std::string, Json>{"tamrikstate", context_.state()}}) {
      const std::string etag = etag_of(content);
      const bool current = etags != body.end() && etags->is_object() && core::get_text(*etags, name) == etag;
      documents[name] =
          current ? Json{{"status", 304}, {"etag", etag}} : Json{{"status", 200}, {"etag", etag}, {"content", content}};
    }
    send_json(res, 200, {{"documents", documents}});
  }

  void context(const Request& req, Response& res) {
    const Project project = project_of(req);
    send_json(res, 200,
              {{"project", {{"id", project.id}, {"title", project.title}, {"remote", project.remote}}},
               {"systems", context_.system_names()}});
  }

  void system_context(const Request& req, Response& res) {
    project_of(req);
    std::vector<std::string> names;
    const std::string param = req.get_param_value("systems");
    std::string_view wanted = param;
    while (!wanted.empty()) {
      const auto comma = wanted.find(',');
      if (comma != 0) names.emplace_back(wanted.substr(0, comma));
      wanted = comma == std::string_view::npos ? std::string_view{} : wanted.substr(comma + 1);
    }
    send_json(res, 200, context_.systems(names));
  }

  void state(const Request& req, Response& res) {
    project_of(req);
    send_conditional(req, res, context_.state());
  }

  void specs(const Request& req, Response& res) {
    project_of(req);
    send_conditional(req, res, context_.specs());
  }

  void docs(const Request& req, Response& res) {
    project_of(req);
    send_json(res, 200, context_.docs());
  }

  void skills(const Request& req, Response& res) {
    project_of(req);
    send_json(res, 200, context_.skills());
  }

  void memories(const Request& req, Response& res) {
    project_of(req);
    send_json(res, 200, context_.memories());
  }

  void guardrails(const Request& req, Response& res) {
    project_of(req);
    send_json(res, 200, context_.guardrails());
  }

 private:
  template <typename Work>
  static void guarded(Response& res, Work&& work) {
    try {
      work();
    } catch (const ApiFailure& failure) {
      send_failure(res, failure);
    } catch (const StorageUnavailable& e) {
      send_failure(res, unavailable(e));
    } catch (const std::exception& e) {
      log_line(std::string("tamrik-platform: request failed: ") + e.what() + "\n");
      send_error(res, 500, "internal", std::string("the platform failed: ") + e.what());
    }
  }

  bool has_route(const Request& req) const {
    // HEAD is served by the GET endpoints.
    const std::string method = req.method == "HEAD" ? "GET" : req.method;
    for (const Route& route : routes_) {
      if (route.method == method && std::regex_match(req.path, route.pattern)) return true;
    }
    return false;
  }

  static const Caller& caller() {
    if (!request_caller) throw ApiFailure{401, "key_rejected", "the API key was not accepted"};
    return *request_caller;
  }

  // The team a resolve files its project under: the one named, which must be
  // one of the caller's, or the caller's only team.
  static long long team_of_resolve(const std::optional<long long>& named) {
    const Caller& who = caller();
    if (named && !who.ignores_team_id) {
      if (who.on_team(*named)) return *named;
      throw ApiFailure{
          403, "not_a_member",
          "you are not a member of team " + std::to_string(*named) + "; your teams: " + listed_ids(who.team_ids)};
    }
    if (who.team_ids.size() == 1) return who.team_ids.front();
    if (who.team_ids.empty()) {
      throw ApiFailure{403, "not_a_member",
                       "your key's member is on no team; ask the platform's administrator to add it to one"};
    }
    throw ApiFailure{409,
                     "ambiguous_team",
                     "you belong to teams " + listed_ids(who.team_ids) + "; name one with team_id",
                     {{"team_ids", who.team_ids}}};
  }

  // The project the path names, when it is one of the caller's teams';
  // any other is answered exactly as one that does not exist.
  Project project_of(const Request& req) const {
    const std::string digits = req.matches[1].str();
    long long id = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), id);
    std::optional<Project> project = storage_.find_project(id);
    if (!project || !caller().on_team(project->team_id)) {
      throw ApiFailure{404, "project_not_found",
                       "there is no project " + digits + " on this platform; link the repository again"};
    }
    return *project;
  }

  struct Route {
    std::string method;
    std::regex pattern;
  };

  Storage& storage_;
  const ContextFiles& context_;
  const Callers& callers_;
  std::vector<Route> routes_;
};

thread_local std::chrono::steady_clock::time_point request_started;

// Answers the requests `api` refuses as soon as their headers are in, before
// any of the body is read; a client waiting for "100 Continue" before it
// sends the body gets the refusal instead.
void install_early_refusals(httplib::Server& server, const std::shared_ptr<Api>& api) {
  const auto refused = [api](const Request& req, Response& res) {
    request_started = std::chrono::steady_clock::now();
    const std::optional<ApiFailure> failure = api->refusal(req);
    if (failure) send_failure(res, *failure);
    return failure.has_value();
  };
  server.set_pre_routing_handler([refused](const Request& req, Response& res) {
    return refused(req, res) ? httplib::Server::HandlerResponse::Handled : httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_expect_100_continue_handler(
      [refused](const Request& req, Response& res) { return refused(req, res) ? res.status : 100; });
}

void install_logging(httplib::Server& server) {
  server.set_logger([](const Request& req, const Response& res) {
    // A request refused before its headers were in was never timed, and its
    // address is not filled in.
    const auto started = std::exchange(request_started, {});
    char took[32] = "-";
    if (started != std::chrono::steady_clock::time_point{}) {
      const auto elapsed =
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
      std::snprintf(took, sizeof took, "%.1fms", static_cast<double>(elapsed.count()) / 1000.0);
    }
    char line[512];
    std::snprintf(line, sizeof line, "%s %s %s %d %zuB %s\n", req.remote_addr.empty() ? "-" : req.remote_addr.c_str(),
                  req.method.c_str(), req.path.substr(0, 200).c_str(), res.status, res.body.size(), took);
    log_line(line);
  });
  // Requests the library itself refused (a malformed request line, say)
  // get JSON too.
  server.set_error_handler(httplib::Server::HandlerWithResponse([](const Request&, Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    send_error(res, res.status, "bad_request", "the request could not be handled");
    return httplib::Server::HandlerResponse::Handled;
  }));
}

}  // namespace

void install_routes(httplib::Server& server, Storage& storage, const ContextFiles& context, const Callers& callers) {
  auto api = std::make_shared<Api>(storage, context, callers);
  const auto get = [&server, api](const std::string& pattern, Api::GetHandler handler) {
    api->add_route("GET", pattern);
    server.Get(pattern, [api, handler](const Request& req, Response& res) { api->get(req, res, handler); });
  };
  const auto post = [&server, api](const std::string& pattern, Api::PostHandler handler) {
    api->add_route("POST", pattern);
    server.Post(pattern, [api, handler](const Request& req, Response& res, const httplib::ContentReader& reader) {
      api->post(req, res, reader, handler);
    });
  };
  const std::string project = kProjectPath;
  get("/v1/me", &Api::me);
  post("/v1/projects/resolve", &Api::resolve);
  post(project + "/attestations", &Api::upload);
  get(project + "/attestations", &Api::list);
  post(project + "/state/detailed", &Api::detailed_state);
  get(project + "/context", &Api::context);
  get(project + "/system-context", &Api::system_context);
  get(project + "/state", &Api::state);
  get(project + "/specs", &Api::specs);
  get(project + "/docs", &Api::docs);
  get(project + "/skills", &Api::skills);
  get(project + "/memories", &Api::memories);
  get(project + "/guardrails", &Api::guardrails);
  server.set_payload_max_length(kMaxRequestBytes);
  // Headers and body go out in separate writes; without this, Nagle's
  // algorithm and delayed ACKs hold each answer back some 40 ms.
  server.set_tcp_nodelay(true);
  // A stop waits for idle keep-alive connections to time out; keep that short.
  server.set_keep_alive_timeout(1);
  install_dashboard(server, storage, callers);
  install_early_refusals(server, api);
  install_logging(server);
}

}  // namespace tamrik::platform
