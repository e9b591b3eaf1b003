// tamrik-platform over HTTP: authentication, limits, errors, storage
// across processes and restarts.

#include "platform/platform_client.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <set>

namespace tamrik::testing {
namespace {

using core::Json;

class PlatformServerTest : public PlatformClientTest {};

Json records(int first, int count) {
  Json list = Json::array();
  for (int i = first; i < first + count; ++i) list.push_back({{"commit", "c" + std::to_string(i)}, {"n", i}});
  return list;
}

TEST_F(PlatformServerTest, BodiesThatAreNotJsonObjectsAreRefused) {
  for (const char* body : {"{not json", "[1, 2]", "\"text\"", "", "{\"remote\": \"git@h:o/r\""}) {
    const Answer answer = post("/v1/projects/resolve", body, key());
    EXPECT_EQ(answer.status, 400) << body;
    EXPECT_EQ(error_code(answer), "bad_request") << body;
  }
  const long long id = project("git@example.com:acme/json.git");
  EXPECT_EQ(post(attestations(id), Json{{"attestations", "not a list"}}).status, 400);
  EXPECT_EQ(post("/v1/projects/resolve", Json{{"remote", "git@h:o/r"}, {"team_id", "seven"}}).status, 400);
}

TEST_F(PlatformServerTest, AMissingOrWrongKeyIsRejected) {
  const long long id = project("git@example.com:acme/keys.git");
  httplib::Client anonymous("127.0.0.1", platform_.port());
  const Answer no_key = answer_of(anonymous.Get("/v1/projects/" + std::to_string(id) + "/state"));
  EXPECT_EQ(no_key.status, 401);
  EXPECT_EQ(error_code(no_key), "key_rejected");
  EXPECT_EQ(get("/v1/projects/" + std::to_string(id) + "/state", key() + "x").status, 401);
  EXPECT_EQ(get("/v1/projects/" + std::to_string(id) + "/state", "").status, 401);
  const Answer wrong_post =
      post(attestations(id), core::to_json_compact(Json{{"attestations", records(0, 1)}}), "nope");
  EXPECT_EQ(wrong_post.status, 401);
  EXPECT_EQ(get(attestations(id)).body["attestations"].size(), 0u);

  const Answer lower_case =
      answer_of(anonymous.Get("/v1/projects/" + std::to_string(id) + "/state", {{"Authorization", "bearer " + key()}}));
  EXPECT_EQ(lower_case.status, 200);
}

TEST(PlatformServerKeys, KeysComeFromTheCommandLineAndTheEnvironment) {
  PlatformOptions options;
  options.api_keys = {"cli-key"};
  options.env = {{"TAMRIK_PLATFORM_API_KEYS", " env-one , ,env-two "}};
  PlatformProcess platform(options);
  httplib::Client client("127.0.0.1", platform.port());
  for (const char* key : {"cli-key", "env-one", "env-two"}) {
    const auto result = client.Post("/v1/projects/resolve", {{"Authorization", std::string("Bearer ") + key}},
                                    R"({"remote": "git@h:o/r"})", "application/json");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200) << key;
  }
  // Each key is a member of its own, on the one team.
  int place = 0;
  for (const char* key : {"cli-key", "env-one", "env-two"}) {
    const auto me = client.Get("/v1/me", {{"Authorization", std::string("Bearer ") + key}});
    ASSERT_TRUE(me);
    EXPECT_EQ(core::parse_json_or_throw(me->body),
              (Json{{"member", "key " + std::to_string(++place)}, {"team_ids", {1}}}));
  }
  const auto stranger = client.Get("/v1/me", {{"Authorization", "Bearer env-on"}});
  ASSERT_TRUE(stranger);
  EXPECT_EQ(stranger->status, 401);
  EXPECT_EQ(core::parse_json_or_throw(stranger->body)["error"]["code"], "key_rejected");
  const std::string log = platform.log();
  for (const char* key : {"cli-key", "env-one", "env-two"}) EXPECT_EQ(log.find(key), std::string::npos) << log;
}

TEST(PlatformServerKeys, WithoutAnyKeyTheServerDoesNotStart) {
  TempDir dir;
  const CommandResult result = run_command({platform_binary(), "serve", "--db", (dir / "db.sqlite").string()});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_NE(result.out.find("no API key"), std::string::npos) << result.out;
}

TEST_F(PlatformServerTest, BodiesOverTheLimitAre413AndTheClientCarriesOn) {
  const long long id = project("git@example.com:acme/big.git");
  const std::string huge = R"({"attestations": [{"commit": "c", "pad": ")" + std::string(9u << 20, 'x') + "\"}]}";
  const Answer declared = post(attestations(id), huge, key());
  EXPECT_EQ(declared.status, 413);
  EXPECT_EQ(error_code(declared), "too_large");

  httplib::Client client("127.0.0.1", platform_.port());
  client.set_keep_alive(true);
  const httplib::Headers auth = {{"Authorization", "Bearer " + key()}};
  const auto chunked = client.Post(
      attestations(id), auth,
      [&](size_t offset, httplib::DataSink& sink) {
        if (offset < huge.size()) {
          sink.write(huge.data() + offset, std::min<size_t>(1 << 16, huge.size() - offset));
        } else {
          sink.done();
        }
        return true;
      },
      "application/json");
  ASSERT_TRUE(chunked);
  EXPECT_EQ(chunked->status, 413);
  const auto next = client.Get("/v1/projects/" + std::to_string(id) + "/state", auth);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->status, 200);
  EXPECT_EQ(get(attestations(id)).body["attestations"].size(), 0u);
}

TEST_F(PlatformServerTest, UnknownProjectsAndPathsAre404) {
  for (const std::string path :
       {"/v1/projects/999/state", "/v1/projects/999/attestations", "/v1/projects/999/context"}) {
    const Answer answer = get(path);
    EXPECT_EQ(answer.status, 404) << path;
    EXPECT_EQ(error_code(answer), "project_not_found") << path;
  }
  EXPECT_EQ(error_code(post("/v1/projects/999/attestations", Json{{"attestations", records(0, 1)}})),
            "project_not_found");
  const Answer unknown = get("/v1/nothing-here");
  EXPECT_EQ(unknown.status, 404);
  EXPECT_EQ(error_code(unknown), "not_found");
  EXPECT_EQ(get("/v1/projects/99999999999999999999999/state").status, 404);
}

TEST_F(PlatformServerTest, ABatchWithABadRecordStoresNothing) {
  const long long id = project("git@example.com:acme/bad.git");
  for (const Json& bad : {Json{{"summary", "no commit"}}, Json{{"commit", std::string("c1\0x", 4)}}}) {
    Json batch = records(0, 3);
    batch.push_back(bad);
    const Answer answer = post(attestations(id), Json{{"attestations", batch}});
    EXPECT_EQ(answer.status, 422) << bad.dump();
    EXPECT_EQ(error_code(answer), "bad_record");
  }
  EXPECT_EQ(get(attestations(id)).body["attestations"].size(), 0u);
}

TEST_F(PlatformServerTest, ReadBackPagesNewestFirst) {
  const long long id = project("git@example.com:acme/pages.git");
  ASSERT_EQ(post(attestations(id), Json{{"attestations", records(1, 5)}}).body["inserted"], 5);
  const auto commits = [](const Answer& answer) {
    std::vector<std::string> out;
    for (const Json& record : answer.body["attestations"]) out.push_back(record["commit"]);
    return out;
  };
  EXPECT_EQ(commits(get(attestations(id) + "?limit=2")), (std::vector<std::string>{"c5", "c4"}));
  EXPECT_EQ(commits(get(attestations(id) + "?limit=2&after=c4")), (std::vector<std::string>{"c3", "c2"}));
  EXPECT_EQ(commits(get(attestations(id) + "?after=c1")), std::vector<std::string>{});
  EXPECT_EQ(get(attestations(id) + "?after=nope").status, 400);
  EXPECT_EQ(get(attestations(id) + "?limit=0").status, 400);
  EXPECT_EQ(get(attestations(id) + "?limit=ten").status, 400);
}

// Two processes upload overlapping ranges of commits at once; the platform
// must end with exactly one row per commit.
TEST_F(PlatformServerTest, ConcurrentOverlappingUploadsFromTwoProcessesKeepOneRowPerCommit) {
  const long long id = project("git@example.com:acme/race.git");
  const auto uploader = [&](int first) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    httplib::Client client("127.0.0.1", platform_.port());
    int failures = 0;
    for (int batch = 0; batch < 12; ++batch) {
      const Json body{{"attestations", records(first + batch * 50, 50)}};
      const auto result = client.Post(attestations(id), {{"Authorization", "Bearer " + key()}},
                                      core::to_json_compact(body), "application/json");
      if (!result || result->status != 200) ++failures;
    }
    _exit(failures == 0 ? 0 : 1);
  };
  const pid_t a = uploader(0);
  const pid_t b = uploader(300);
  for (const pid_t pid : {a, b}) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const Json stored = get(attestations(id) + "?limit=1000").body["attestations"];
  std::set<std::string> commits;
  for (const Json& record : stored) commits.insert(record["commit"].get<std::string>());
  EXPECT_EQ(stored.size(), 900u);
  EXPECT_EQ(commits.size(), 900u);
}

TEST(PlatformServerLifecycle, RecordsSurviveARestartAndTheServerStopsCleanly) {
  TempDir dir;
  PlatformOptions options;
  options.db = fresh_database(dir.path());
  long long id = 0;
  {
    PlatformProcess platform(options);
    httplib::Client client("127.0.0.1", platform.port());
    const httplib::Headers auth = {{"Authorization", "Bearer " + platform.key()}};
    id = core::parse_json_or_throw(
        client.Post("/v1/projects/resolve", auth, R"({"remote": "git@h:acme/keep"})", "application/json")
            ->body)["projectId"];
    const auto stored = client.Post("/v1/projects/" + std::to_string(id) + "/attestations", auth,
                                    R"({"attestations": [{"commit": "kept"}]})", "application/json");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, 200);
    EXPECT_EQ(platform.stop(SIGINT), 0);
    const std::string log = platform.log();
    EXPECT_NE(log.find("POST /v1/projects/resolve 200"), std::string::npos) << log;
    EXPECT_NE(log.find("tamrik-platform: stopped"), std::string::npos) << log;
    EXPECT_EQ(log.find(platform.key()), std::string::npos) << log;
  }
  PlatformProcess again(options);
  httplib::Client client("127.0.0.1", again.port());
  const auto listed =
      client.Get("/v1/projects/" + std::to_string(id) + "/attestations", {{"Authorization", "Bearer " + again.key()}});
  ASSERT_TRUE(listed);
  EXPECT_EQ(core::parse_json_or_throw(listed->body)["attestations"], Json::array({{{"commit", "kept"}}}));
}

TEST(PlatformServerLifecycle, ASecondServerOnAPortInUseRefusesToStart) {
  PlatformProcess first;
  const std::string address = "127.0.0.1:" + std::to_string(first.port());
  TempDir dir;
  // Held to 30 s, so a server that shares the port fails the test, not hangs it.
  const CommandResult second = run_command({"timeout", "30", platform_binary(), "serve", "--db",
                                            (dir / "second.sqlite").string(), "--api-key", "k", "--listen", address});
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.out.find("cannot listen on " + address + ": address already in use"), std::string::npos)
      << second.out;
  EXPECT_EQ(second.out.find("listening on"), std::string::npos) << second.out;
}

TEST(PlatformServerContext, ABrokenContextFileIsA500NamingTheFile) {
  TempDir context;
  write_text(context / "state.yaml", "architecture: [unclosed\n");
  PlatformOptions options;
  options.context_dir = context.path();
  PlatformProcess platform(options);
  httplib::Client client("127.0.0.1", platform.port());
  const httplib::Headers auth = {{"Authorization", "Bearer " + platform.key()}};
  const auto resolved = client.Post("/v1/projects/resolve", auth, R"({"remote": "git@h:o/r"})", "application/json");
  ASSERT_TRUE(resolved);
  const auto state = client.Get("/v1/projects/1/state", auth);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->status, 500);
  EXPECT_NE(state->body.find("state.yaml"), std::string::npos) << state->body;
  const auto docs = client.Get("/v1/projects/1/docs", auth);
  ASSERT_TRUE(docs);
  EXPECT_EQ(docs->status, 200);
}

}  // namespace
}  // namespace tamrik::testing
