// Requests to the tamrik-platform API as fuzzed bytes, handled in process:
// the server's own request processing reads each one from memory and runs
// the routes against a SQLite file and a context directory in the scratch
// directory. Checked: no request is an internal error; every answer of the
// API but 304 is a JSON object, and an error answer names its code and
// message. The dashboard shares the port and answers its own paths with
// pages, style sheets and redirects.
//
// Input: a route byte, a flags byte, then the rest: the body of a POST, or
// for a GET two values split at the first line break (the first is the
// "limit" parameter and the If-None-Match header, the second the "after"
// and "systems" parameters). A route byte past the routes sends the rest
// as the whole raw request.

#include "core/json.hpp"
#include "platform/api_keys.hpp"
#include "platform/callers.hpp"
#include "platform/context_files.hpp"
#include "platform/dashboard_routes.hpp"
#include "platform/routes.hpp"
#include "platform/sqlite_storage.hpp"
#include "scratch.hpp"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using tamrik::core::Json;
using tamrik::fuzz::require;

constexpr const char* kKey = "fuzz-key";
// How many requests one database serves before it starts afresh, so that a
// long run's stored records do not fill the scratch file system.
constexpr int kRequestsPerDatabase = 1000;

struct Route {
  const char* method;
  const char* path;  // after /v1/projects
};

constexpr std::array<Route, 12> kRoutes = {{
    {"POST", "/resolve"},
    {"POST", "/attestations"},
    {"GET", "/attestations"},
    {"POST", "/state/detailed"},
    {"GET", "/context"},
    {"GET", "/system-context"},
    {"GET", "/state"},
    {"GET", "/specs"},
    {"GET", "/docs"},
    {"GET", "/skills"},
    {"GET", "/memories"},
    {"GET", "/guardrails"},
}};

enum Flags : uint8_t { kWrongKey = 1, kChunked = 2, kUnknownProject = 4 };

// A request read from memory; what the server writes back is dropped (the
// logger sees the answer).
class MemoryStream final : public httplib::Stream {
 public:
  explicit MemoryStream(std::string_view request) : request_(request) {}
  bool is_readable() const override { return true; }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    const size_t count = std::min(size, request_.size() - position_);
    std::copy_n(request_.data() + position_, count, ptr);
    position_ += count;
    return static_cast<ssize_t>(count);
  }
  ssize_t write(const char*, size_t size) override { return static_cast<ssize_t>(size); }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 40000;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 8787;
  }
  socket_t socket() const override { return -1; }

 private:
  std::string_view request_;
  size_t position_ = 0;
};

struct Answer {
  int status = 0;
  std::string body;
  bool dashboard = false;  // asked of a dashboard path
};

class InProcessServer : public httplib::Server {
 public:
  Answer answer(std::string_view request) {
    Answer answer;
    set_logger([&answer](const httplib::Request& req, const httplib::Response& res) {
      answer = {res.status, res.body, tamrik::platform::is_dashboard_path(req.path)};
    });
    MemoryStream stream(request);
    bool closed = false;
    process_request(stream, true, closed, [](httplib::Request&) {});
    return answer;
  }
};

fs::path context_dir() {
  const fs::path dir = tamrik::fuzz::scratch_dir() / "context";
  using tamrik::fuzz::write_bytes;
  write_bytes(dir / "rules.yaml", "principles:\n  - name: small files\n    description: one job each\n");
  write_bytes(dir / "state.yaml", "services:\n  api: {port: 8080}\n");
  write_bytes(dir / "guardrails.yaml", "no_force_push: true\n");
  write_bytes(dir / "memories.yaml", "- the ledger is append-only\n");
  write_bytes(dir / "specs" / "upload.md", "# Upload\n");
  write_bytes(dir / "docs" / "setup.md", "# Setup\n");
  write_bytes(dir / "skills" / "review" / "SKILL.md", "Review the diff.\n");
  write_bytes(dir / "systems" / "api.yaml", "owner: platform\n");
  return dir;
}

// One database with one project, the context documents and the routes.
class Platform {
 public:
  Platform()
      : storage_(database()),
        context_(context_dir()),
        keys_({kKey}, ""),
        project_(storage_.resolve_project(tamrik::platform::kDefaultTeamId, "github.com/acme/widgets", "widgets")
                     .project.id) {
    tamrik::platform::install_routes(server_, storage_, context_, callers_);
  }

  Answer answer(std::string_view request) { return server_.answer(request); }
  long long project() const { return project_; }

 private:
  static fs::path database() {
    const fs::path file = tamrik::fuzz::scratch_dir() / "platform.db";
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file.string() + suffix);
    return file;
  }

  tamrik::platform::SqliteStorage storage_;
  tamrik::platform::ContextFiles context_;
  tamrik::platform::ApiKeys keys_;
  tamrik::platform::Callers callers_{keys_, storage_};
  InProcessServer server_;
  long long project_;
};

Platform& platform() {
  static std::unique_ptr<Platform> current;
  static int served = 0;
  if (!current || ++served % kRequestsPerDatabase == 0) {
    current.reset();
    current = std::make_unique<Platform>();
  }
  return *current;
}

std::string percent_encoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || c == '-' ||
        c == '_' || c == '.' || c == ',') {
      out += c;
    } else {
      out += {'%', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return out;
}

// A header value cannot hold a line break or NUL.
std::string header_value(std::string_view text) {
  std::string out(text);
  std::erase_if(out, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
  return out;
}

std::string request_for(const Route& route, uint8_t flags, long long project, std::string_view rest) {
  const std::string id = flags & kUnknownProject ? "999999999999999999" : std::to_string(project);
  std::string target = "/v1/projects";
  if (std::string_view(route.path) != "/resolve") target += "/" + id;
  target += route.path;
  std::string headers = "Host: 127.0.0.1\r\nAuthorization: Bearer " + std::string(flags & kWrongKey ? "nope" : kKey) +
                        "\r\nX-Agent-Session-Id: fuzz-session\r\n";
  if (std::string_view(route.method) == "GET") {
    const size_t split = std::min(rest.find('\n'), rest.size());
    const std::string_view first = rest.substr(0, split);
    const std::string_view second = rest.substr(std::min(split + 1, rest.size()));
    target += "?limit=" + percent_encoded(first) + "&after=" + percent_encoded(second) +
              "&systems=" + percent_encoded(second);
    return "GET " + target + " HTTP/1.1\r\n" + headers + "If-None-Match: " + header_value(first) + "\r\n\r\n";
  }
  headers += "Content-Type: application/json\r\n";
  std::string body(rest);
  if (flags & kChunked) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx", rest.size());
    headers += "Transfer-Encoding: chunked\r\n";
    body = std::string(size) + "\r\n" + body + "\r\n0\r\n\r\n";
  } else {
    headers += "Content-Length: " + std::to_string(rest.size()) + "\r\n";
  }
  return "POST " + target + " HTTP/1.1\r\n" + headers + "\r\n" + body;
}

void check_answer(const Answer& answer) {
  if (answer.status == 0) return;  // no request line: nothing to answer
  require(answer.status != 500, "a request ended in an internal error");
  if (answer.status == 304 || answer.dashboard) return;
  const std::optional<Json> body = tamrik::core::parse_json(answer.body);
  require(body && body->is_object(), "an answer that is not a JSON object");
  if (answer.status < 400) return;
  const auto error = body->find("error");
  require(error != body->end() && error->is_object() && tamrik::core::get_text(*error, "code") != "" &&
              tamrik::core::get_text(*error, "message") != "",
          "an error answer without its code and message");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Platform& server = platform();
  const std::string_view rest = tamrik::fuzz::as_text(data + 2, size - 2);
  const std::string request =
      data[0] < kRoutes.size() ? request_for(kRoutes[data[0]], data[1], server.project(), rest) : std::string(rest);
  check_answer(server.answer(request));
  return 0;
}
