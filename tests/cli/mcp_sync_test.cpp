// The tool server's `sync` tool against a real tamrik-platform: it links and
// uploads as `tamrik sync` does, turns every failure into an error result
// that tells the agent what to do, and keeps stdout for the protocol.

#include "mcp_client.hpp"

#include "host/fault_server.hpp"
#include "host/services/git_identity.hpp"
#include "platform/platform_process.hpp"

#include <httplib.h>

#include <unistd.h>

#include <algorithm>
#include <optional>

namespace tamrik::testing {
namespace {

constexpr const char* kNoTeamRefusal =
    R"({"error": {"code": "ambiguous_team", "message": "you belong to teams 3 and 7; name one", "team_ids": [3, 7]}})";

// Stands in front of the platform for a user on two teams: a resolve
// without a team id is refused as the platform refuses it; everything else
// is passed on.
class TwoTeamsGateway {
 public:
  explicit TwoTeamsGateway(const PlatformProcess& platform)
      : platform_port_(platform.port()), server_([this](FaultConnection& connection) { serve(connection); }) {}

  std::string url() const { return server_.url(); }

  // The team ids the resolve requests named (null when none), in order.
  std::vector<ordered_json> resolve_teams() const {
    std::vector<ordered_json> teams;
    for (const ReceivedRequest& request : server_.requests()) {
      if (request.target == "/v1/projects/resolve") teams.push_back(ordered_json::parse(request.body)["team_id"]);
    }
    return teams;
  }

 private:
  void serve(FaultConnection& connection) const {
    const ReceivedRequest request = connection.read_request();
    if (request.target == "/v1/projects/resolve" && ordered_json::parse(request.body)["team_id"].is_null()) {
      connection.respond(409, kNoTeamRefusal, "Content-Type: application/json\r\n");
      return;
    }
    httplib::Client platform("127.0.0.1", platform_port_);
    httplib::Headers headers;
    for (const auto& [name, value] : request.headers) {
      if (name == "Authorization" || name == "If-None-Match" || name == "X-Agent-Session-Id")
        headers.emplace(name, value);
    }
    const httplib::Result answer = request.method == "GET"
                                       ? platform.Get(request.target, headers)
                                       : platform.Post(request.target, headers, request.body, "application/json");
    if (!answer) return connection.reset();
    std::string extra = "Content-Type: application/json\r\n";
    if (answer->has_header("ETag")) extra += "ETag: " + answer->get_header_value("ETag") + "\r\n";
    connection.respond(answer->status, answer->body, extra);
  }

  int platform_port_;
  FaultServer server_;
};

class McpSync : public McpClientTest {
 protected:
  void SetUp() override {
    McpClientTest::SetUp();
    write_text(context_.path() / "rules.yaml", "principles:\n  p1: {text: one}\n");
    repo_.git({"remote", "add", "origin", "git@example.com:acme/mcp-sync.git"});
    set_up_repository();
    ::setenv("TAMRIK_SKIP_PLATFORM_SKILLS", "1", 1);
  }
  void TearDown() override {
    ::unsetenv("TAMRIK_SKIP_PLATFORM_SKILLS");
    McpClientTest::TearDown();
  }

  void sign_in(const std::string& url) {
    const TamrikResult login = tamrik({"auth", "login", "--api-url", url}, platform_.key() + "\n");
    ASSERT_EQ(login.exit_code, 0) << login.err;
  }

  // The commits the platform stores for `project`.
  std::vector<std::string> stored_commits(int project) const {
    httplib::Client client("127.0.0.1", platform_.port());
    const httplib::Result answer = client.Get("/v1/projects/" + std::to_string(project) + "/attestations",
                                              {{"Authorization", "Bearer " + platform_.key()}});
    std::vector<std::string> commits;
    if (!answer || answer->status != 200) return commits;
    const ordered_json stored = ordered_json::parse(answer->body);
    for (const ordered_json& record : stored["attestations"]) commits.push_back(record["commit"]);
    std::sort(commits.begin(), commits.end());
    return commits;
  }

  std::string config() const { return read_text(tamrik_dir() / ".platform" / "config.yaml"); }

  static bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  TempDir context_;
  PlatformProcess platform_{PlatformOptions{.context_dir = context_.path()}};
};

TEST_F(McpSync, LinksAndUploadsAndThePlatformStoresTheRecords) {
  sign_in(platform_.url());
  std::vector<std::string> commits = {repo_.commit("feat: one"), repo_.commit("feat: two")};
  std::sort(commits.begin(), commits.end());

  const auto answers = session(request(1, "initialize") + call(2, "sync") + call(3, "sync"));
  EXPECT_EQ(last_.exit_code, 0) << last_.err;
  ASSERT_EQ(answers.size(), 3u) << last_.out;
  const std::string first = tool_text(answers[1]);
  EXPECT_FALSE(tool_failed(answers[1])) << first;
  EXPECT_TRUE(contains(first, "Created and linked project 1 (mcp-sync).\n")) << first;
  EXPECT_TRUE(contains(first, "Uploaded 2 record(s).\n")) << first;
  EXPECT_TRUE(contains(first, "Refreshed the project context; rules: 1.\n")) << first;
  EXPECT_EQ(stored_commits(1), commits);
  EXPECT_TRUE(contains(config(), "project_id: 1\n")) << config();

  const std::string second = tool_text(answers[2]);
  EXPECT_FALSE(tool_failed(answers[2])) << second;
  EXPECT_TRUE(contains(second, "Nothing to upload: every record is on the platform.\n")) << second;
}

TEST_F(McpSync, AnAmbiguousTeamIsRefusedWithTheRemedyAndTheRetryWithTeamIdLinks) {
  const TwoTeamsGateway gateway(platform_);
  sign_in(gateway.url());
  const std::string commit = repo_.commit("feat: waits for a team");

  const auto answers = session(call(1, "sync") + call(2, "sync", {{"team_id", 7}}) + call(3, "sync"));
  ASSERT_EQ(answers.size(), 3u) << last_.out;
  const std::string refused = tool_text(answers[0]);
  EXPECT_TRUE(tool_failed(answers[0])) << refused;
  EXPECT_TRUE(contains(refused, "Not linked to a project: you belong to teams 3 and 7; name one")) << refused;
  EXPECT_TRUE(contains(refused, "the `team_id` argument on the MCP sync tool")) << refused;

  const std::string linked = tool_text(answers[1]);
  EXPECT_FALSE(tool_failed(answers[1])) << linked;
  EXPECT_TRUE(contains(linked, "Created and linked project 1 (mcp-sync).\n")) << linked;
  EXPECT_TRUE(contains(linked, "Uploaded 1 record(s).\n")) << linked;
  EXPECT_EQ(stored_commits(1), std::vector<std::string>{commit});
  EXPECT_TRUE(contains(config(), "team_id: 7\n")) << config();

  // Linked now: the third sync asks about no team at all.
  EXPECT_FALSE(tool_failed(answers[2])) << tool_text(answers[2]);
  EXPECT_EQ(gateway.resolve_teams(), (std::vector<ordered_json>{nullptr, 7}));
}

TEST_F(McpSync, NotSignedInIsAnErrorResultNamingTheRemedy) {
  repo_.commit("feat: stays local");
  const auto answers = session(call(1, "sync") + request(2, "ping"));
  EXPECT_EQ(last_.exit_code, 0) << last_.err;
  ASSERT_EQ(answers.size(), 2u) << last_.out;
  const std::string text = tool_text(answers[0]);
  EXPECT_TRUE(tool_failed(answers[0])) << text;
  EXPECT_TRUE(contains(text, "Not linked to a project: not signed in\n")) << text;
  EXPECT_TRUE(contains(text, "Run `tamrik auth login` and they upload on the next `tamrik sync`.\n")) << text;
  EXPECT_EQ(answers[1]["id"], 2);
  EXPECT_FALSE(contains(config(), "project_id")) << config();
}

// An agent attests, syncs, and only then commits: the attestation must wait
// for its commit rather than be pinned on the one before.
TEST_F(McpSync, AnAttestationForAChangeNotCommittedYetWaitsForItsCommit) {
  sign_in(platform_.url());
  write_text(repo_.root() / "feature.txt", "new feature\n");
  repo_.git({"add", "feature.txt"});
  const std::string hash = services::shared::get_staged_diff_hash(repo_.root()).value();

  const auto answers = session(
      call(1, "prepare_attestation", {{"staged_diff_hash", hash}, {"model", "m"}, {"summary", "Add the feature"}}) +
      call(2, "sync"));
  ASSERT_EQ(answers.size(), 2u) << last_.out;
  ASSERT_FALSE(tool_failed(answers[0])) << tool_text(answers[0]);
  const std::string text = tool_text(answers[1]);
  EXPECT_FALSE(tool_failed(answers[1])) << text;
  EXPECT_TRUE(contains(text, "Attestation waiting: ")) << text;
  EXPECT_FALSE(contains(text, "Filed the pending attestation")) << text;
  EXPECT_TRUE(fs::exists(tamrik_dir() / ".commit-attestation.yaml"));

  repo_.git({"commit", "-q", "-m", "feat: the attested change"});
  const std::vector<ordered_json> entries = ledger();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back().value("commit", ""), repo_.head());
  EXPECT_EQ(entries.back().value("summary", ""), "Add the feature") << entries.back().dump();
}

TEST_F(McpSync, ATeamIdThatIsNotAPositiveWholeNumberIsAFailedResultNamingIt) {
  sign_in(platform_.url());
  const auto answers = session(call(1, "sync", {{"team_id", "7"}}) + call(2, "sync", {{"team_id", -3}}) +
                               call(3, "sync", {{"team_id", 0}}) + call(4, "sync", {{"team_id", 2.5}}) +
                               call(5, "sync", {{"team_id", 7}, {"team", 7}}));
  ASSERT_EQ(answers.size(), 5u) << last_.out;
  for (const ordered_json& answer : answers) {
    ASSERT_TRUE(answer.contains("result")) << answer.dump();
    EXPECT_TRUE(tool_failed(answer)) << answer.dump();
    EXPECT_TRUE(contains(tool_text(answer), "Invalid arguments for sync: ")) << answer.dump();
  }
  EXPECT_TRUE(contains(tool_text(answers[0]), "`team_id` must be of type integer")) << answers[0].dump();
  EXPECT_TRUE(contains(tool_text(answers[1]), "`team_id` must be at least 1")) << answers[1].dump();
  EXPECT_TRUE(contains(tool_text(answers[4]), "unknown argument `team`")) << answers[4].dump();
  // Refused before anything ran: the repository is still unlinked.
  EXPECT_FALSE(contains(config(), "project_id")) << config();
}

// A platform that accepts the connection and never answers: the sync waits
// on it, and the server still answers at once.
class McpSilentPlatform : public McpSync {
 protected:
  // The sync is waiting on the platform once its request has arrived.
  bool sync_waiting() const {
    for (int tries = 0; tries < 3000 && silent_.connections() == 0; ++tries) ::usleep(10'000);
    return silent_.connections() > 0;
  }

  std::optional<ordered_json> answer() {
    const std::optional<std::string> line = server_->read_line();
    if (!line) return std::nullopt;
    return ordered_json::parse(*line);
  }

  void start_server() {
    server_.emplace(TamrikRun{.args = {"mcp"},
                              .cwd = repo_.root(),
                              .env = {{"TAMRIK_API_KEY", platform_.key()}, {"TAMRIK_API_URL", silent_.url()}}},
                    home_.path() / "mcp.err");
  }

  static std::string cancel(int id) {
    return ordered_json{{"jsonrpc", "2.0"},
                        {"method", "notifications/cancelled"},
                        {"params", {{"requestId", id}, {"reason", "the user gave up"}}}}
               .dump() +
           "\n";
  }

  FaultServer silent_{[](FaultConnection& connection) { connection.stall(); }};
  std::optional<TamrikProcess> server_;
};

TEST_F(McpSilentPlatform, APingIsAnsweredDuringTheSyncAndACancelledSyncIsNeverAnswered) {
  repo_.commit("feat: waits for the platform");
  start_server();
  server_->write(call(1, "sync"));
  ASSERT_TRUE(sync_waiting());

  server_->write(request(2, "ping"));
  const std::optional<ordered_json> pong = answer();
  ASSERT_TRUE(pong) << read_text(home_.path() / "mcp.err");
  EXPECT_EQ(*pong, ordered_json({{"jsonrpc", "2.0"}, {"id", 2}, {"result", ordered_json::object()}}));

  // Cancelled, the sync stops waiting: the next call runs and is the next answer.
  server_->write(cancel(1) + call(3, "status"));
  const std::optional<ordered_json> status = answer();
  ASSERT_TRUE(status) << read_text(home_.path() / "mcp.err");
  EXPECT_EQ((*status)["id"], 3) << status->dump();
  EXPECT_FALSE(tool_failed(*status)) << status->dump();

  const TamrikResult end = server_->finish();
  EXPECT_EQ(end.exit_code, 0) << read_text(home_.path() / "mcp.err");
  EXPECT_EQ(end.out, "");
  EXPECT_EQ(silent_.connections(), 1);
}

}  // namespace
}  // namespace tamrik::testing
