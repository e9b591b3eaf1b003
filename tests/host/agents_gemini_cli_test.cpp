// Gemini CLI: session files to telemetry, and commits made through its shell tool.

#include "host/agents/registry.hpp"

#include "host/agent_fixtures.hpp"

#include <gtest/gtest.h>

namespace tamrik::agents {
namespace {

namespace fs = std::filesystem;
using namespace testing::agent_fixtures;
using testing::GitRepo;
using testing::TempDir;
using testing::write_text;

using Sessions = std::vector<std::string>;

const Adapter& gemini() { return *get_adapter_by_name("gemini-cli"); }

class GeminiTest : public ::testing::Test {
 protected:
  // chats/session-<time>-<first 8 of the id>.jsonl
  fs::path session_file(const std::string& id, const std::string& project = "my-repo") const {
    return chats(project) / ("session-2026-07-25T17-20-" + id.substr(0, 8) + ".jsonl");
  }
  fs::path chats(const std::string& project = "my-repo") const {
    return home_.path() / ".gemini" / "tmp" / project / "chats";
  }

 private:
  TempDir home_;
  ScopedEnv env_{{"GEMINI_CLI_HOME", home_.path().string()}};
};

TEST_F(GeminiTest, TelemetryFromTheSessionAndItsSubagents) {
  const std::string id = "8c2d4e6f-1a3b-4c5d-9e7f-0a1b2c3d4e5f";
  write_text(session_file(id),
             jsonl({gemini_meta(id, kDay), gemini_user("u1", "add a test", kDay + 5),
                    gemini_reply("g1", "gemini-2.5-pro", gemini_tokens(1000, 50, 400, 30), Json::array(), kDay + 9),
                    gemini_reply("g1", "gemini-2.5-pro", gemini_tokens(1000, 80, 400, 30), Json::array(), kDay + 10),
                    gemini_user("u2", "now commit", kDay + 20),
                    gemini_reply("g2", "gemini-2.5-flash", gemini_tokens(200, 10, 0, 0), Json::array(), kDay + 25),
                    Json{{"$set", {{"lastUpdated", iso(kDay + 30)}}}}}) +
                 "{\"id\":\"g3\",\"type\":\"gemini\",\"tok");  // torn
  write_text(
      chats() / id / "c1d2e3f4-sub.jsonl",
      jsonl({gemini_meta("c1d2e3f4-sub", kDay + 12), gemini_user("su", "task", kDay + 12),
             gemini_reply("sg", "gemini-2.5-flash-lite", gemini_tokens(300, 20, 100, 5), Json::array(), kDay + 13)}));
  // Another session sharing the first 8 characters of the id, looked at first.
  write_text(chats("a-other") / ("session-2026-07-20T08-00-" + id.substr(0, 8) + ".jsonl"),
             jsonl({gemini_meta(id.substr(0, 8) + "-0000-0000-0000-000000000000", kDay)}));

  const auto telemetry = gemini().get_telemetry_for_session({}, id);
  ASSERT_TRUE(telemetry.has_value());
  EXPECT_EQ(telemetry->model, "gemini-2.5-flash");
  // Per message, rewritten messages once; cached tokens taken out of input,
  // thinking added to output.
  EXPECT_EQ(telemetry->tokens.input, (1000 - 400) + 200 + (300 - 100));
  EXPECT_EQ(telemetry->tokens.cache_read, 400 + 0 + 100);
  EXPECT_EQ(telemetry->tokens.output, (80 + 30) + 10 + (20 + 5));
  EXPECT_EQ(telemetry->turns, 2);
  EXPECT_EQ(telemetry->started_at, "2026-07-25T17:20:00Z");
  EXPECT_EQ(telemetry->ended_at, "2026-07-25T17:20:30Z");

  EXPECT_EQ(gemini().get_telemetry_for_session({}, id.substr(0, 8) + "-9999"), std::nullopt);
  EXPECT_EQ(gemini().get_telemetry_for_session({}, "short"), std::nullopt);
}

TEST_F(GeminiTest, ShellCallsShowWhichSessionCommitted) {
  GitRepo repo;
  std::string sha;
  {
    ScopedEnv date{{"GIT_COMMITTER_DATE", std::to_string(static_cast<long long>(kDay)) + " +0000"}};
    sha = repo.commit("feat: gemini");
  }
  const std::string summary = "Command: git commit\nDirectory: (root)\nOutput: [main " + sha.substr(0, 7) +
                              "] feat: gemini\nError: (none)\nExit Code: 0";
  const std::string made = "aaaaaaaa-made";
  write_text(session_file(made),
             jsonl({gemini_meta(made, kDay - 60),
                    gemini_reply(
                        "g1", "gemini-2.5-pro", gemini_tokens(1, 1, 0, 0),
                        Json::array({gemini_shell("c1", "git commit -m 'feat: gemini'", summary, "success", kDay - 1)}),
                        kDay + 1)}));
  const std::string failed = "bbbbbbbb-failed";
  write_text(
      session_file(failed),
      jsonl({gemini_meta(failed, kDay - 60),
             gemini_reply("g1", "gemini-2.5-pro", gemini_tokens(1, 1, 0, 0),
                          Json::array({gemini_shell("c2", "git commit -m x", "Exit Code: 1", "success", kDay - 1)}),
                          kDay + 1)}));
  write_text(chats() / made / "cccccccc-sub.jsonl",
             jsonl({gemini_meta("cccccccc-sub", kDay), gemini_user("u", "look at " + sha, kDay)}));

  const auto hits = gemini().sessions_mentioning(repo.root(), {sha}, std::nullopt, {{sha, kDay}});
  ASSERT_TRUE(hits.has_value());
  EXPECT_EQ(hits->at(sha), Sessions{made});
}

TEST(DetectionOnlyHarnesses, AnswerNothingAboutSessions) {
  TempDir dir;
  for (const char* name : {"cursor", "windsurf"}) {
    const Adapter& adapter = *get_adapter_by_name(name);
    EXPECT_EQ(adapter.get_telemetry_for_session(dir.path(), "any"), std::nullopt) << name;
    EXPECT_EQ(adapter.sessions_mentioning(dir.path(), {"0123456"}, std::nullopt, {}), std::nullopt) << name;
  }
  EXPECT_EQ(get_adapter_by_name("windsurf")->detect(false), false);
}

}  // namespace
}  // namespace tamrik::agents
