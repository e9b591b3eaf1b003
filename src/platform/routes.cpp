#include "platform/routes.hpp"

#include "core/json.hpp"
#include "platform/api_keys.hpp"
#include "platform/context_files.hpp"
#include "platform/remote_name.hpp"
#include "platform/storage.hpp"

#include <httplib.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <mutex>

namespace tamrik::platform {

namespace {

using core::Json;
using httplib::Request;
using httplib::Response;

constexpr size_t kDefaultListLimit = 50;
constexpr size_t kMaxListLimit = 1000;
constexpr size_t kMaxCommitLength = 128;
constexpr size_t kMaxSessionIdLength = 256;
constexpr size_t kMaxDrainedBytes = 4 * kMaxRequestBytes;
constexpr const char* kProjectPath = R"(/v1/projects/(\d{1,18}))";

// A request refused with a status, a code and a message for users.
struct ApiFailure {
  int status;
  std::string code;
  std::string message;
};

void send_json(Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(core::to_json_compact(body), "application/json");
}

void send_error(Response& res, int status, std::string_view code, std::string_view message) {
  send_json(res, status, {{"error", {{"code", code}, {"message", message}}}});
}

void log_line(const std::string& line) {
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  std::fputs(line.c_str(), stderr);
}

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

// The body, read whole up to the limit. A chunked body has no declared
// length, so the limit is enforced here as it arrives; what comes past it is
// read and dropped (up to a bound), so the connection stays in step for the
// client's next request.
std::string read_body(Response& res, const httplib::ContentReader& reader) {
  std::string body;
  size_t dropped = 0;
  const bool complete = reader([&](const char* data, size_t size) {
    if (dropped == 0 && size <= kMaxRequestBytes - body.size()) {
      body.append(data, size);
      return true;
    }
    dropped += size;
    return dropped <= kMaxDrainedBytes;
  });
  if (dropped > 0 || res.status == 413) {
    if (!complete) res.set_header("Connection", "close");
    throw ApiFailure{413, "too_large", "the request body is larger than 8 MiB; send fewer records at a time"};
  }
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

class Api {
 public:
  Api(Storage& storage, const ContextFiles& context, const ApiKeys& keys)
      : storage_(storage), context_(context), keys_(keys) {}

  using GetHandler = void (Api::*)(const Request&, Response&);
  using PostHandler = void (Api::*)(const Request&, Response&, const Json&);

  // Every handler runs behind the key check, and every failure becomes a
  // JSON error answer.
  void get(const Request& req, Response& res, GetHandler handler) {
    guarded(res, [&] {
      check_key(req);
      (this->*handler)(req, res);
    });
  }

  void post(const Request& req, Response& res, const httplib::ContentReader& reader, PostHandler handler) {
    guarded(res, [&] {
      const std::string body = read_body(res, reader);
      check_key(req);
      (this->*handler)(req, res, json_object_of(body));
    });
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
      throw ApiFailure{422, "bad_remote",
                       "the origin remote does not name a repository this platform can identify"};
    }
    // One team only: a team id is accepted and has no effect.
    const Resolution resolution = storage_.resolve_project(*name, repository_name(*name));
    send_json(res, 200,
              {{"projectId", resolution.project.id},
               {"title", resolution.project.title},
               {"created", resolution.created}});
  }

  void upload(const Request& req, Response& res, const Json& body) {
    const Project project = project_of(req);
    const auto list = body.find("attestations");
    if (list == body.end() || !list->is_array()) {
      throw ApiFailure{400, "bad_request", "the body must hold an \"attestations\" list"};
    }
    std::vector<RecordToStore> records;
    records.reserve(list->size());
    for (size_t i = 0; i < list->size(); ++i) {
      const Json& record = (*list)[i];
      const std::string commit = record.is_object() ? core::get_text(record, "commit") : "";
      if (commit.empty() || commit.size() > kMaxCommitLength) {
        throw ApiFailure{422, "bad_record", "record " + std::to_string(i) + " has no usable commit"};
      }
      records.push_back({commit, core::to_json_compact(record)});
    }
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
    std::optional<std::vector<Json>> records = storage_.list_attestations(project.id, limit, after);
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
      const bool current = etags != body.end() && etags->is_object() &&
                           core::get_text(*etags, name) == etag;
      documents[name] = current ? Json{{"status", 304}, {"etag", etag}}
                                : Json{{"status", 200}, {"etag", etag}, {"content", content}};
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
      send_error(res, failure.status, failure.code, failure.message);
    } catch (const std::exception& e) {
      log_line(std::string("tamrik-platform: request failed: ") + e.what() + "\n");
      send_error(res, 500, "internal", std::string("the platform failed: ") + e.what());
    }
  }

  void check_key(const Request& req) const {
    if (!keys_.accepts(req.get_header_value("Authorization"))) {
      throw ApiFailure{401, "key_rejected", "the API key was not accepted"};
    }
  }

  Project project_of(const Request& req) const {
    const std::string digits = req.matches[1].str();
    long long id = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), id);
    std::optional<Project> project = storage_.find_project(id);
    if (!project) {
      throw ApiFailure{404, "project_not_found",
                       "there is no project " + digits + " on this platform; link the repository again"};
    }
    return *project;
  }

  Storage& storage_;
  const ContextFiles& context_;
  const ApiKeys& keys_;
};

thread_local std::chrono::steady_clock::time_point request_started;

void install_logging(httplib::Server& server) {
  server.set_pre_routing_handler([](const Request&, Response&) {
    request_started = std::chrono::steady_clock::now();
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_logger([](const Request& req, const Response& res) {
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - request_started);
    char line[512];
    std::snprintf(line, sizeof line, "%s %s %s %d %zuB %.1fms\n", req.remote_addr.c_str(), req.method.c_str(),
                  req.path.substr(0, 200).c_str(), res.status, res.body.size(),
                  static_cast<double>(took.count()) / 1000.0);
    log_line(line);
  });
  // Unknown paths and requests the library itself refused get JSON too.
  server.set_error_handler(httplib::Server::HandlerWithResponse([](const Request& req, Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    if (res.status == 404) {
      send_error(res, 404, "not_found", "no such endpoint: " + req.method + " " + req.path.substr(0, 200));
    } else if (res.status == 413) {
      send_error(res, 413, "too_large", "the request body is larger than 8 MiB");
    } else {
      send_error(res, res.status, "bad_request", "the request could not be handled");
    }
    return httplib::Server::HandlerResponse::Handled;
  }));
}

}  // namespace

void install_routes(httplib::Server& server, Storage& storage, const ContextFiles& context,
                    const ApiKeys& keys) {
  auto api = std::make_shared<Api>(storage, context, keys);
  const auto get = [&server, api](const std::string& pattern, Api::GetHandler handler) {
    server.Get(pattern, [api, handler](const Request& req, Response& res) { api->get(req, res, handler); });
  };
  const auto post = [&server, api](const std::string& pattern, Api::PostHandler handler) {
    server.Post(pattern, [api, handler](const Request& req, Response& res, const httplib::ContentReader& reader) {
      api->post(req, res, reader, handler);
    });
  };
  const std::string project = kProjectPath;
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
  install_logging(server);
}

}  // namespace tamrik::platform
