// Claude Code: finding a session's transcript and reading its telemetry.

#include "host/agents/claude_code.hpp"
#include "host/agents/registry.hpp"

#include "host/agent_fixtures.hpp"

#include <gtest/gtest.h>

namespace tamrik::agents {
namespace {

namespace fs = std::filesystem;
using namespace testing::agent_fixtures;
using testing::TempDir;
using testing::write_text;

const Adapter& claude() { return *get_adapter_by_name("claude-code"); }

// Each test has a store of its own: sessions of one test must not be found
// by the next one's search.
class ClaudeCodeTest : public ::testing::Test {
 protected:
  fs::path projects() const { return config_.path() / "projects"; }

 private:
  TempDir config_;
  ScopedEnv env_{{"CLAUDE_CONFIG_DIR", config_.path().string()}};
};

// A session with the traps of the format: one response streamed over three
// lines with placeholder usage, a "<synthetic>" message, a tool result and a
// harness note that are no turns, a subagent in its own file, a line that
// is not JSON and a torn last line.
struct SessionFixture {
  std::string id = "5b9e0c1a-2f3d-4e8b-9a7c-1d2e3f4a5b6c";
  ClaudeSession session{id, "/work/repo"};

  std::string main_transcript() {
    Json meta_note = session.prompt("<local-command-caveat>...</local-command-caveat>", kDay + 1);
    meta_note["isMeta"] = true;
    Json thinking =
        session.assistant("msg_A", "claude-opus-4-6", Json::array({{{"type", "thinking"}, {"thinking", "hm"}}}),
                          ClaudeSession::usage(3, 9, 500, 1000), kDay + 11);
    Json text = session.text_reply("msg_A", "I will look.", ClaudeSession::usage(3, 9, 500, 1000), kDay + 12);
    Json tool = session.bash_call("toolu_1", "ls", kDay + 13);
    tool["message"]["id"] = "msg_A";
    tool["message"]["usage"] = ClaudeSession::usage(3, 209, 500, 1000);
    Json synthetic = session.text_reply("msg_S", "No response requested.", ClaudeSession::usage(0, 7, 0, 0), kDay + 400,
                                        "<synthetic>");
    return jsonl({session.prompt("list the files", kDay + 10), meta_note, thinking, text, tool,
                  session.bash_result("toolu_1", "a.txt\n", kDay + 14),
                  session.text_reply("msg_B", "Title", ClaudeSession::usage(10, 20, 0, 0), kDay + 15,
                                     "claude-haiku-4-5-20251001"),
                  session.prompt("now commit", kDay + 100),
                  session.text_reply("msg_C", "Done.", ClaudeSession::usage(4, 60, 0, 2000), kDay + 300), synthetic}) +
           "this line is not JSON\n" +
           session.text_reply("msg_T", "torn", ClaudeSession::usage(1, 1, 1, 1), kDay + 900).dump().substr(0, 80);
  }

  std::string subagent_transcript() {
    ClaudeSession sub{id, "/work/repo"};
    Json usage = ClaudeSession::usage(100, 50, 0, 7);
    usage["cache_creation"] = {{"ephemeral_5m_input_tokens", 30}, {"ephemeral_1h_input_tokens", 12}};
    Json early =
        sub.text_reply("msg_X", "...", ClaudeSession::usage(100, 1, 0, 7), kDay + 20, "claude-sonnet-4-5-20250929");
    Json last = sub.text_reply("msg_X", "found it", usage, kDay + 21, "claude-sonnet-4-5-20250929");
    Json task = sub.prompt("search the tree", kDay + 19);
    for (Json* line : {&early, &last, &task}) (*line)["isSidechain"] = true;
    return jsonl({task, early, last});
  }

  void write_under(const fs::path& project_dir) {
    write_text(project_dir / (id + ".jsonl"), main_transcript());
    write_text(project_dir / id / "subagents" / "agent-a0ad4f44.jsonl", subagent_transcript());
  }
};

TEST_F(ClaudeCodeTest, ReadsModelTokensTurnsAndTimesFromTheTranscripts) {
  TempDir repo;
  SessionFixture fixture;
  fixture.write_under(projects() / claude_project_key(repo.path().string()));

  const auto telemetry = claude().get_telemetry_for_session(repo.path(), fixture.id);
  ASSERT_TRUE(telemetry.has_value());
  EXPECT_EQ(telemetry->session_id, fixture.id);
  // The last real model of the main conversation: not "<synthetic>", not the
  // subagent's.
  EXPECT_EQ(telemetry->model, "claude-opus-4-6");
  // msg_A counted once with its last usage; msg_X likewise; msg_S and the
  // torn line not at all; the nested cache breakdown stands in for a 0.
  EXPECT_EQ(telemetry->tokens.input, 3 + 10 + 4 + 100);
  EXPECT_EQ(telemetry->tokens.output, 209 + 20 + 60 + 50);
  EXPECT_EQ(telemetry->tokens.cache_creation, 500 + 42);
  EXPECT_EQ(telemetry->tokens.cache_read, 1000 + 2000 + 7);
  EXPECT_EQ(telemetry->turns, 2);
  EXPECT_EQ(telemetry->started_at, "2026-07-25T17:20:10Z");
  EXPECT_EQ(telemetry->ended_at, "2026-07-25T17:25:00Z");

  const Json dict = telemetry->to_dict();
  EXPECT_EQ(dict["tokens"]["output"], 339);
  EXPECT_EQ(dict["model"], "claude-opus-4-6");
}

TEST_F(ClaudeCodeTest, UnknownOrUnsafeSessionsAreNotKnown) {
  TempDir repo;
  SessionFixture fixture;
  fixture.write_under(projects() / claude_project_key(repo.path().string()));
  EXPECT_EQ(claude().get_telemetry_for_session(repo.path(), "0000-not-here"), std::nullopt);
  EXPECT_EQ(claude().get_telemetry_for_session(repo.path(), ""), std::nullopt);
  // An id that would climb out of the project directory is never a path.
  write_text(projects() / "escape.jsonl", fixture.main_transcript());
  EXPECT_EQ(claude().get_telemetry_for_session(repo.path(), "../escape"), std::nullopt);
  EXPECT_EQ(find_claude_transcript(repo.path(), "a/b"), std::nullopt);
}

TEST_F(ClaudeCodeTest, ATranscriptWithoutModelIsKnownButNamesNone) {
  TempDir repo;
  ClaudeSession session{"7d1e", repo.path().string()};
  write_text(projects() / claude_project_key(repo.path().string()) / "7d1e.jsonl",
             jsonl({session.prompt("hello", kDay)}));
  const auto telemetry = claude().get_telemetry_for_session(repo.path(), "7d1e");
  ASSERT_TRUE(telemetry.has_value());
  EXPECT_EQ(telemetry->model, "");
  EXPECT_FALSE(telemetry->to_dict().contains("model"));
  EXPECT_FALSE(telemetry->to_dict().contains("tokens"));
}

TEST(ClaudeCodeStore, LivesInHomeUnlessTheConfigDirVariableMovesIt) {
  TempDir repo;
  SessionFixture fixture;
  fixture.id = "c0ffee00-home-store";
  fixture.write_under(testing::test_home() / ".claude" / "projects" / claude_project_key(repo.path().string()));
  EXPECT_EQ(claude().get_telemetry_for_session(repo.path(), fixture.id)->model, "claude-opus-4-6");

  TempDir config;
  ScopedEnv env{{"CLAUDE_CONFIG_DIR", config.path().string()}};
  EXPECT_EQ(claude().get_telemetry_for_session(repo.path(), fixture.id), std::nullopt);
  fixture.write_under(config.path() / "projects" / "-moved");
  EXPECT_EQ(find_claude_transcript(repo.path(), fixture.id),
            config.path() / "projects" / "-moved" / (fixture.id + ".jsonl"));
}

TEST(ClaudeCodeStore, ProjectKeyReplacesEveryOtherCharacterPerUtf16Unit) {
  EXPECT_EQ(claude_project_key("/home/u/my_repo"), "-home-u-my-repo");
  EXPECT_EQ(claude_project_key("/srv/app.v2/x-y"), "-srv-app-v2-x-y");
  EXPECT_EQ(claude_project_key("/tmp/caf\xC3\xA9"), "-tmp-caf-");  // é: one unit
  EXPECT_EQ(claude_project_key("/a/\xE2\x82\xAC"), "-a--");        // €: one unit
  EXPECT_EQ(claude_project_key("/a/\xF0\x9F\x98\x80"), "-a---");   // emoji: two units
  EXPECT_EQ(claude_project_key("/a/\xFF"
                               "b"),
            "-a--b");                                     // stray byte: one
  EXPECT_EQ(claude_project_key("/a/\xF0\x9F"), "-a---");  // cut sequence: per byte
}

TEST_F(ClaudeCodeTest, FallsBackToSearchingEveryProject) {
  TempDir repo;
  SessionFixture fixture;
  // Started in a sub-directory, so filed under another key.
  fixture.write_under(projects() / (claude_project_key(repo.path().string()) + "-src"));
  ASSERT_TRUE(find_claude_transcript(repo.path(), fixture.id).has_value());
  EXPECT_EQ(claude().get_telemetry_for_session(repo.path(), fixture.id)->tokens.output, 339);
}

TEST_F(ClaudeCodeTest, LongPathsGetAHashedKeyFoundBySearch) {
  TempDir base;
  fs::path repo = base.path();
  while (claude_project_key(repo.string()).size() <= kMaxClaudeProjectKey) repo /= "a-rather-long-directory-name";
  fs::create_directories(repo);
  const std::string hashed = claude_project_key(repo.string()).substr(0, kMaxClaudeProjectKey) + "-1x9ql2";
  SessionFixture fixture;
  fixture.write_under(projects() / hashed);
  EXPECT_EQ(find_claude_transcript(repo, fixture.id), projects() / hashed / (fixture.id + ".jsonl"));
}

TEST_F(ClaudeCodeTest, PrefersTheRepositorysOwnKey) {
  TempDir repo;
  ClaudeSession session{"77aa", repo.path().string()};
  write_text(projects() / "-elsewhere" / "77aa.jsonl", jsonl({session.prompt("x", kDay)}));
  write_text(projects() / claude_project_key(repo.path().string()) / "77aa.jsonl", jsonl({session.prompt("y", kDay)}));
  EXPECT_EQ(find_claude_transcript(repo.path(), "77aa"),
            projects() / claude_project_key(repo.path().string()) / "77aa.jsonl");
}

}  // namespace
}  // namespace tamrik::agents
