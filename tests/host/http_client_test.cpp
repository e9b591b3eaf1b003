// The platform API client against misbehaving servers on 127.0.0.1: what
// each failure becomes, the limits that end a request, and the key kept out
// of every message.

#include "host/protocol/http_client.hpp"

#include "core/log.hpp"
#include "host/fault_server.hpp"
#include "host/protocol/endpoint.hpp"
#include "support/debug_lines.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tamrik::protocol::http_client {
namespace {

using testing::answer_with;
using testing::FaultConnection;
using testing::FaultServer;

constexpr const char* kKey = "sk-test-SECRET-0123456789abcdef";

// Runs `call`, which must throw `E`; checks the key is nowhere in the
// message and returns the error.
template <typename E, typename Call>
E expect_error(Call&& call) {
  try {
    call();
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()).find(kKey), std::string::npos) << e.what();
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected " << core::class_name_of(e) << ": " << e.what();
    throw;
  }
  ADD_FAILURE() << "no error was raised";
  throw std::logic_error("no error");
}

Json one_record() { return Json::array({{{"commit", "a1b2c3"}, {"synced", false}}}); }

Json upload_to(const std::string& url) { return upload_attestations(kKey, url, 7, one_record()); }

TEST(HttpClientEndpoint, PlainHttpToAnotherHostIsRefusedBeforeAnyConnection) {
  // With no time left, any attempt to connect would end as a TimeoutError;
  // the refusal must come first.
  const auto budget = network_budget(0);
  const auto upload = expect_error<ConfigurationError>([] { upload_to("http://192.0.2.1"); });
  EXPECT_EQ(upload.class_name(), "ConfigurationError");
  EXPECT_NE(std::string(upload.what()).find("192.0.2.1"), std::string::npos);
  expect_error<ConfigurationError>([] { resolve_project(kKey, "http://192.0.2.1:8080/api", "git@h:o/r", {}); });
  expect_error<ConfigurationError>([] { fetch_context(1, kKey, "HTTP://Example.COM"); });
}

TEST(HttpClientEndpoint, OnlyThisMachineMayBeReachedOverPlainHttp) {
  for (const char* url : {"http://localhost:8787", "http://127.0.0.1", "http://127.255.0.9:1/base/",
                          "http://[::1]:8787", "HTTP://LOCALHOST"}) {
    EXPECT_TRUE(detail::parse_endpoint(url).loopback) << url;
  }
  EXPECT_EQ(detail::parse_endpoint("https://platform.example.com/api//").base, "https://platform.example.com/api");
  EXPECT_FALSE(detail::parse_endpoint("https://platform.example.com").loopback);
  for (const char* url :
       {"http://127.0.0.1.example.com", "http://localhost.example.com", "http://10.0.0.1", "http://127.1",
        "http://[::2]", "http://user:pw@127.0.0.1", "https://u@host.example", "ftp://127.0.0.1", "127.0.0.1:8787", "",
        "https://host.example/?q=1", "https://host .example", "https://"}) {
    EXPECT_THROW(detail::parse_endpoint(url), ConfigurationError) << url;
  }
}

TEST(HttpClientRequest, UploadSendsTheBatchWithItsHeaders) {
  FaultServer server(answer_with(200, R"({"inserted": 1})", "Content-Type: application/json\r\n"));
  const Json answer = upload_attestations(kKey, server.url() + "/", 7, one_record(),
                                          ExtraHeaders{{"X-Agent-Session-Id", "session-42"}});
  EXPECT_EQ(answer, Json({{"inserted", 1}}));

  ASSERT_EQ(server.requests().size(), 1u);
  const testing::ReceivedRequest request = server.requests()[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/v1/projects/7/attestations");
  EXPECT_EQ(request.header("Authorization"), std::string("Bearer ") + kKey);
  EXPECT_EQ(request.header("Accept"), "application/json");
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_TRUE(request.header("User-Agent").starts_with("tamrik/")) << request.header("User-Agent");
  EXPECT_EQ(request.header("X-Agent-Session-Id"), "session-42");
  EXPECT_EQ(request.header("Expect"), "");
  EXPECT_EQ(core::parse_json(request.body), Json({{"attestations", one_record()}}));
}

TEST(HttpClientRequest, ProjectIdsAreIntegersOrPlainText) {
  FaultServer server(answer_with(200, "{}"));
  upload_attestations(kKey, server.url(), "42", Json::array());
  fetch_guardrails(Json(9u), kKey, server.url());
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[0].target, "/v1/projects/42/attestations");
  EXPECT_EQ(server.requests()[1].target, "/v1/projects/9/guardrails");

  for (const Json& bad : {Json("../admin"), Json("4 2"), Json(-1), Json(1.5), Json(nullptr), Json("")}) {
    expect_error<ConfigurationError>([&] { upload_attestations(kKey, server.url(), bad, Json::array()); });
  }
  EXPECT_EQ(server.connections(), 2);
}

TEST(HttpClientRequest, HeaderValuesThatCouldStartAnotherHeaderAreNotSent) {
  FaultServer server(answer_with(200, "{}"));
  upload_attestations(kKey, server.url(), 1, Json::array(),
                      ExtraHeaders{{"X-Agent-Session-Id", "abc\r\nX-Injected: 1"}, {"Bad Name", "v"}});
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].header("X-Injected"), "");
  EXPECT_EQ(server.requests()[0].header("X-Agent-Session-Id"), "");

  expect_error<ConfigurationError>(
      [&] { upload_attestations("key\r\nX-Injected: 1", server.url(), 1, Json::array()); });
  EXPECT_EQ(server.connections(), 1);
}

struct Refusal {
  std::string_view code;
  int status;
};

TEST(HttpClientRefusals, EachRefusalCodeBecomesAnAgentApiErrorWithThatCode) {
  for (const Refusal refusal :
       {Refusal{CODE_KEY_REJECTED, 401}, Refusal{CODE_ACCOUNT_INACTIVE, 402}, Refusal{CODE_AMBIGUOUS_TEAM, 409},
        Refusal{CODE_REPO_AMBIGUOUS, 409}, Refusal{CODE_REPO_CONFLICT, 409}, Refusal{CODE_NOT_A_MEMBER, 403},
        Refusal{CODE_CAPACITY, 403}, Refusal{CODE_BAD_REMOTE, 422}}) {
    const std::string code(refusal.code);
    FaultServer server(answer_with(
        refusal.status, R"({"error": {"code": ")" + code + R"(", "message": "Refused as )" + code + R"("}})"));
    const auto error =
        expect_error<AgentApiError>([&] { resolve_project(kKey, server.url(), "git@host:org/repo.git", 3); });
    EXPECT_EQ(error.code, code);
    EXPECT_EQ(error.status, refusal.status);
    EXPECT_EQ(error.class_name(), "AgentApiError");
    EXPECT_EQ(std::string(error.what()), "Refused as " + code + " (HTTP " + std::to_string(refusal.status) + ")");
  }
  const std::set<std::string_view> distinct = {CODE_KEY_REJECTED,   CODE_ACCOUNT_INACTIVE, CODE_AMBIGUOUS_TEAM,
                                               CODE_REPO_AMBIGUOUS, CODE_REPO_CONFLICT,    CODE_NOT_A_MEMBER,
                                               CODE_CAPACITY,       CODE_BAD_REMOTE};
  EXPECT_EQ(distinct.size(), 8u);
}

TEST(HttpClientRefusals, ResolveSendsRemoteAndTeam) {
  FaultServer server(answer_with(200, R"({"projectId": 5, "title": "repo", "created": true})"));
  EXPECT_EQ(resolve_project(kKey, server.url(), "git@host:org/repo.git", 12)["projectId"], 5);
  resolve_project(kKey, server.url(), "git@host:org/repo.git", std::nullopt);
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[0].target, "/v1/projects/resolve");
  EXPECT_EQ(core::parse_json(server.requests()[0].body), Json({{"remote", "git@host:org/repo.git"}, {"team_id", 12}}));
  EXPECT_EQ(core::parse_json(server.requests()[1].body),
            Json({{"remote", "git@host:org/repo.git"}, {"team_id", nullptr}}));
}

TEST(HttpClientRefusals, UploadRefusalCarriesStatusAndServerMessage) {
  FaultServer server(answer_with(413, R"({"error": {"code": "too_large", "message": "Body over 8 MiB"}})"));
  const auto error = expect_error<AgentApiError>([&] { upload_to(server.url()); });
  EXPECT_EQ(error.code, "too_large");
  EXPECT_EQ(std::string(error.what()), "Body over 8 MiB (HTTP 413)");
  // Every upload failure is the runtime error the caller catches.
  EXPECT_THROW(upload_to(server.url()), PlatformError);
}

TEST(HttpClientRefusals, KeyEchoedByTheServerIsRedacted) {
  FaultServer server(answer_with(
      401, std::string(R"({"error": {"code": "key_rejected", "message": "unknown key )") + kKey + R"("}})"));
  const auto error = expect_error<AgentApiError>([&] { upload_to(server.url()); });
  EXPECT_EQ(std::string(error.what()), "unknown key [redacted] (HTTP 401)");
}

TEST(HttpClientUnreachable, AnswersWithoutARefusalHaveTheirOwnClassNames) {
  struct Case {
    int status;
    std::string body;
    std::string class_name;
  };
  for (const Case& c : std::vector<Case>{
           {500, R"({"error": {"code": "internal", "message": "db down"}})", "ServerError"},
           {503, "<html>maintenance</html>", "ServerError"},
           {200, "<html>captive portal</html>", "InvalidResponseError"},
           {200, "[1, 2]", "InvalidResponseError"},
           {200, "{\"truncated\": ", "InvalidResponseError"},
           {404, "<html>not found</html>", "HTTPError"},
           {401, R"({"error": "no code here"})", "HTTPError"},
       }) {
    FaultServer server(answer_with(c.status, c.body));
    const auto error = expect_error<UnreachableError>([&] { upload_to(server.url()); });
    EXPECT_EQ(error.class_name(), c.class_name) << c.status << " " << c.body;
    const auto resolved = expect_error<UnreachableError>([&] { resolve_project(kKey, server.url(), "git@h:o/r", {}); });
    EXPECT_EQ(resolved.class_name(), c.class_name);
  }
}

TEST(HttpClientUnreachable, NoListenerIsAConnectionError) {
  std::string url;
  {
    FaultServer gone(answer_with(200, "{}"));
    url = gone.url();
  }
  const auto error = expect_error<ConnectionError>([&] { upload_to(url); });
  EXPECT_EQ(error.class_name(), "ConnectionError");
  EXPECT_NE(std::string(error.what()).find(url), std::string::npos) << error.what();
}

TEST(HttpClientUnreachable, ResetConnectionsAreConnectionErrorsAndNeverKillTheProcess) {
  FaultServer after_request([](FaultConnection& connection) {
    connection.read_request();
    connection.reset();
  });
  expect_error<ConnectionError>([&] { upload_to(after_request.url()); });

  // Reset before the body is read: the client's writes hit a dead socket,
  // which raises SIGPIPE unless the client holds it off.
  FaultServer at_once([](FaultConnection& connection) { connection.reset(); });
  Json big = Json::array();
  for (int i = 0; i < 2000; ++i) big.push_back({{"commit", std::to_string(i)}, {"pad", std::string(1000, 'x')}});
  for (int attempt = 0; attempt < 20; ++attempt) {
    expect_error<ConnectionError>([&] { upload_attestations(kKey, at_once.url(), 1, big); });
  }
}

TEST(HttpClientLimits, AStalledServerIsCutOffWhenTheBudgetEnds) {
  FaultServer server([](FaultConnection& connection) {
    connection.read_request();
    connection.stall();
  });
  const auto started = std::chrono::steady_clock::now();
  {
    const auto budget = network_budget(0.5);
    const auto error = expect_error<TimeoutError>([&] { upload_to(server.url()); });
    EXPECT_EQ(error.class_name(), "TimeoutError");
  }
  // The budget, not the 60-second transfer limit, ended the request.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

// What a waiting command shows: the request under way, until it ends.
TEST(HttpClientLimits, ARequestIsCountedUnderWayUntilItEnds) {
  FaultServer server([](FaultConnection& connection) {
    connection.read_request();
    connection.stall();
  });
  std::atomic<int> idle_calls{0};
  on_requests_idle([&] { ++idle_calls; });
  std::thread uploading([&] {
    const auto budget = network_budget(1);
    expect_error<TimeoutError>([&] { upload_to(server.url()); });
  });
  RequestsInFlight seen;
  while (!seen.oldest && idle_calls == 0) seen = requests_in_flight();
  uploading.join();
  on_requests_idle({});
  ASSERT_TRUE(seen.oldest.has_value());
  EXPECT_EQ(seen.count, 1u);
  EXPECT_EQ(seen.oldest->method + " " + seen.oldest->api_url + seen.oldest->path,
            "POST " + server.url() + "/v1/projects/7/attestations");
  EXPECT_EQ(idle_calls, 1);
  EXPECT_FALSE(requests_in_flight().oldest.has_value());
}

TEST(HttpClientLimits, ARequestStartedWithNothingLeftFailsWithoutConnecting) {
  FaultServer server(answer_with(200, "{}"));
  const auto budget = network_budget(0.05);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto error = expect_error<TimeoutError>([&] { upload_to(server.url()); });
  EXPECT_NE(std::string(error.what()).find("ran out"), std::string::npos) << error.what();
  expect_error<TimeoutError>([&] { fetch_skills(1, kKey, server.url()); });
  EXPECT_EQ(server.connections(), 0);
}

TEST(HttpClientLimits, BudgetsNestAndTheEarliestDeadlineApplies) {
  EXPECT_FALSE(network_time_left().has_value());
  {
    const auto outer = network_budget(60);
    EXPECT_GT(*network_time_left(), std::chrono::seconds(30));
    {
      const auto inner = network_budget(1);
      EXPECT_LE(*network_time_left(), std::chrono::seconds(1));
      {
        const auto looser = network_budget(120);
        EXPECT_LE(*network_time_left(), std::chrono::seconds(1));
      }
    }
    EXPECT_GT(*network_time_left(), std::chrono::seconds(30));
  }
  EXPECT_FALSE(network_time_left().has_value());
  const auto negative = network_budget(-5);
  EXPECT_EQ(*network_time_left(), std::chrono::milliseconds(0));
}

TEST(HttpClientLimits, AnEndlessBodyIsCutOffAtTheCap) {
  FaultServer server([](FaultConnection& connection) {
    connection.read_request();
    connection.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Type: application/json\r\n\r\n");
    const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
    while (!connection.stopping() && connection.send(chunk)) {
    }
  });
  const auto error = expect_error<InvalidResponseError>([&] { upload_to(server.url()); });
  EXPECT_NE(std::string(error.what()).find("64 MiB"), std::string::npos) << error.what();
}

TEST(HttpClientFetch, ConditionalFetchesAnswer304WithTheTag) {
  FaultServer server([](FaultConnection& connection) {
    const auto request = connection.read_request();
    if (request.header("If-None-Match") == "\"v1\"") {
      connection.respond(304, "", "ETag: \"v1\"\r\n");
    } else {
      connection.respond(200, R"({"architecture": {"elements": {}}})", "ETag: \"v1\"\r\n");
    }
  });
  const FetchedDocument fresh = fetch_declarative_state(3, kKey, server.url());
  EXPECT_EQ(fresh.status, 200);
  EXPECT_EQ(fresh.etag, "\"v1\"");
  EXPECT_EQ(fresh.content, Json({{"architecture", {{"elements", Json::object()}}}}));

  const FetchedDocument current = fetch_all_specs(3, kKey, server.url(), "\"v1\"");
  EXPECT_EQ(current.status, 304);
  EXPECT_EQ(current.etag, "\"v1\"");
  EXPECT_TRUE(current.content.is_null());
  EXPECT_EQ(server.requests()[1].target, "/v1/projects/3/specs");
}

TEST(HttpClientFetch, DetailedStateCarriesEachDocumentsStatus) {
  FaultServer server(answer_with(200, R"({"documents": {
      "tamrikrules": {"status": 200, "etag": "\"r7\"", "content": {"principles": {}}},
      "tamrikstate": {"status": 304, "etag": "\"s3\""}}})"));
  const DetailedState state = fetch_declarative_state_detailed(3, kKey, server.url(), {{"tamrikstate", "\"s3\""}});
  ASSERT_EQ(state.documents.size(), 2u);
  EXPECT_EQ(state.documents.at("tamrikrules").status, 200);
  EXPECT_EQ(state.documents.at("tamrikrules").etag, "\"r7\"");
  EXPECT_EQ(state.documents.at("tamrikrules").content, Json({{"principles", Json::object()}}));
  EXPECT_EQ(state.documents.at("tamrikstate").status, 304);
  EXPECT_TRUE(state.documents.at("tamrikstate").content.is_null());
  EXPECT_EQ(core::parse_json(server.requests()[0].body), Json({{"etags", {{"tamrikstate", "\"s3\""}}}}));

  for (const char* malformed :
       {R"({"documents": []})", R"({"other": 1})", R"({"documents": {"tamrikrules": {"status": 200}}})",
        R"({"documents": {"tamrikrules": {"status": "200", "content": {}}}})",
        R"({"documents": {"tamrikrules": {"status": 500}}})"}) {
    FaultServer bad(answer_with(200, malformed));
    expect_error<InvalidResponseError>([&] { fetch_declarative_state_detailed(3, kKey, bad.url(), {}); });
  }
}

TEST(HttpClientFetch, PlainFetchesUseTheirPaths) {
  FaultServer server(answer_with(200, R"({"ok": true})"));
  fetch_context(4, kKey, server.url());
  fetch_system_context(4, kKey, server.url(), {"api gateway", "a,b"});
  fetch_custom_docs(4, kKey, server.url());
  fetch_skills(4, kKey, server.url());
  fetch_memories(4, kKey, server.url());
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].target, "/v1/projects/4/context");
  EXPECT_EQ(requests[1].target, "/v1/projects/4/system-context?systems=api%20gateway,a%2Cb");
  EXPECT_EQ(requests[2].target, "/v1/projects/4/docs");
  EXPECT_EQ(requests[3].target, "/v1/projects/4/skills");
  EXPECT_EQ(requests[4].target, "/v1/projects/4/memories");
  for (const auto& request : requests) EXPECT_EQ(request.method, "GET");
}

// Run only inside a copy of this program that has no transport library
// near it (see the next test): prints what a request raises.
TEST(HttpClientTransport, DISABLED_ReportWhatARequestRaises) {
  try {
    upload_to("http://127.0.0.1:9");
  } catch (const PlatformError& e) {
    std::printf("raised %s: %s\n", e.class_name().c_str(), e.what());
  }
}

TEST(HttpClientTransport, AMissingTransportLibraryIsAClearError) {
  const testing::TempDir dir;
  const testing::fs::path copy = dir / "client_without_transport";
  testing::fs::copy_file("/proc/self/exe", copy);
  testing::fs::permissions(copy, testing::fs::perms::owner_all);
  const testing::CommandResult result =
      testing::run_command({copy.string(), "--gtest_also_run_disabled_tests",
                            "--gtest_filter=HttpClientTransport.DISABLED_ReportWhatARequestRaises"});
  EXPECT_NE(result.out.find("raised HttpSupportMissingError: HTTP support is missing: libtamrik_http.so not found "
                            "next to " +
                            dir.path().string()),
            std::string::npos)
      << result.out;
}

TEST(HttpClientLog, TheDebugLogNeverHoldsTheKey) {
  std::vector<std::string> lines;
  const core::LogSink previous = core::set_log_sink(
      [&](core::LogLevel, std::string_view, std::string_view message) { lines.emplace_back(message); });
  {
    const testing::DebugLines debug;
    FaultServer ok(answer_with(200, "{}"));
    upload_to(ok.url());
    FaultServer echo(answer_with(500, std::string(R"({"error": {"message": ")") + kKey + "\"}}"));
    expect_error<ServerError>([&] { upload_to(echo.url()); });
  }
  core::set_log_sink(previous);
  ASSERT_GE(lines.size(), 2u);
  for (const std::string& line : lines) EXPECT_EQ(line.find(kKey), std::string::npos) << line;
}

}  // namespace
}  // namespace tamrik::protocol::http_client
