// Codex: rollout files to telemetry, and commits made through its shell tools.

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

const Adapter& codex() { return *get_adapter_by_name("codex"); }

class CodexTest : public ::testing::Test {
 protected:
  fs::path rollout(const std::string& thread) const { return codex_rollout(home_.path(), thread); }
  const fs::path& home() const { return home_.path(); }

 private:
  TempDir home_;
  ScopedEnv env_{{"CODEX_HOME", home_.path().string()}};
};

TEST_F(CodexTest, TelemetryFromTheRollout) {
  const std::string thread = "0199a213-81c0-7800-8aa1-bbab2a035a53";
  write_text(rollout(thread), jsonl({codex_meta(thread, "/work/repo", kDay),
                                     codex_tokens(Json(), kDay + 1),  // the first count has no info yet
                                     codex_turn("turn-1", "gpt-5.2-codex", "/work/repo", kDay + 2),
                                     codex_tokens(codex_usage(17203, 12000, 358), kDay + 5),
                                     codex_tokens(codex_usage(17203, 12000, 358), kDay + 5),  // repeated as-is
                                     codex_turn("turn-2", "gpt-5.3-codex", "/work/repo", kDay + 60),
                                     codex_turn("turn-2", "gpt-5.3-codex", "/work/repo", kDay + 61),  // same turn again
                                     codex_tokens(codex_usage(40000, 30000, 900), kDay + 90),
                                     codex_tokens(Json(), kDay + 95),  // a later empty count changes nothing
                                     codex_line("world_state", {{"anything", 1}}, kDay + 120)}) +
                                  "{\"timestamp\":\"2026-07-26T00:00:00Z\",\"type\":\"event_msg\",\"pay");  // torn
  const auto telemetry = codex().get_telemetry_for_session(home(), thread);
  ASSERT_TRUE(telemetry.has_value());
  EXPECT_EQ(telemetry->session_id, thread);
  EXPECT_EQ(telemetry->model, "gpt-5.3-codex");  // the latest turn's
  // Totals are cumulative: the last one, not a sum. Cached is inside input.
  EXPECT_EQ(telemetry->tokens.input, 10000);
  EXPECT_EQ(telemetry->tokens.cache_read, 30000);
  EXPECT_EQ(telemetry->tokens.output, 900);
  EXPECT_EQ(telemetry->tokens.cache_creation, 0);
  EXPECT_EQ(telemetry->turns, 2);
  EXPECT_EQ(telemetry->started_at, "2026-07-25T17:20:00Z");
  EXPECT_EQ(telemetry->ended_at, "2026-07-25T17:22:00Z");
}

TEST_F(CodexTest, FindsArchivedThreadsAndNothingForUnknownOnes) {
  const std::string thread = "0199b000-0000-7000-8000-000000000001";
  write_text(home() / "archived_sessions" / ("rollout-2026-07-01T09-30-00-" + thread + ".jsonl"),
             jsonl({codex_meta(thread, "/w", kDay), codex_turn("t", "gpt-5-codex", "/w", kDay)}));
  EXPECT_EQ(codex().get_telemetry_for_session(home(), thread)->model, "gpt-5-codex");
  EXPECT_EQ(codex().get_telemetry_for_session(home(), "0199b000"), std::nullopt);  // ids match whole
  EXPECT_EQ(codex().get_telemetry_for_session(home(), "../../x"), std::nullopt);
}

TEST(CodexStore, LivesInHomeUnlessCodexHomeMovesIt) {
  const std::string thread = "0199c000-1111-7000-8000-00000000aaaa";
  write_text(codex_rollout(testing::test_home() / ".codex", thread), jsonl({codex_meta(thread, "/w", kDay)}));
  EXPECT_TRUE(codex().get_telemetry_for_session({}, thread).has_value());
  TempDir elsewhere;
  ScopedEnv env{{"CODEX_HOME", elsewhere.path().string()}};
  EXPECT_EQ(codex().get_telemetry_for_session({}, thread), std::nullopt);
}

class CodexCommits : public CodexTest {
 protected:
  CodexCommits() {
    ScopedEnv date{{"GIT_COMMITTER_DATE", std::to_string(static_cast<long long>(kDay)) + " +0000"}};
    sha_ = repo_.commit("feat: codex");
  }

  Sessions hits() const {
    const auto found = codex().sessions_mentioning(repo_.root(), {sha_}, std::nullopt, {{sha_, kDay}});
    if (!found || found->count(sha_) == 0) return {};
    return found->at(sha_);
  }

  std::string summary() const { return "[main " + sha_.substr(0, 7) + "] feat: codex\n 1 file changed\n"; }

  GitRepo repo_;
  std::string sha_;
};

TEST_F(CodexCommits, BothShellCallFormsAreRead) {
  const std::string root = repo_.root().string();
  write_text(rollout("t-exec"), jsonl({codex_meta("t-exec", root, kDay - 100),
                                       codex_exec("call_1", "git commit -m 'feat: codex'", kDay - 1),
                                       codex_output("call_1", codex_exec_output(0, summary()), kDay + 1)}));
  write_text(rollout("t-shell"), jsonl({codex_meta("t-shell", root, kDay - 100),
                                        codex_shell("call_2", "git commit -q -m 'feat: codex'", kDay - 1),
                                        codex_output("call_2", codex_shell_output(0, ""), kDay + 1)}));
  EXPECT_EQ(hits(), (Sessions{"t-exec", "t-shell"}));
}

TEST_F(CodexCommits, NonZeroExitsMadeNothing) {
  const std::string root = repo_.root().string();
  write_text(rollout("t-exec"), jsonl({codex_exec("call_1", "git commit -m x", kDay - 1),
                                       codex_output("call_1", codex_exec_output(1, "nothing to commit"), kDay)}));
  write_text(rollout("t-shell"), jsonl({codex_shell("call_2", "git commit -m x", kDay - 1),
                                        codex_output("call_2", codex_shell_output(1, "hook failed"), kDay)}));
  EXPECT_EQ(hits(), Sessions{});
}

TEST_F(CodexCommits, AMentionCountsWhenNoSessionMadeIt) {
  write_text(rollout("t-talk"),
             jsonl({codex_line("response_item",
                               {{"type", "message"},
                                {"role", "assistant"},
                                {"content", Json::array({{{"type", "output_text"}, {"text", "Committed " + sha_}}})}},
                               kDay + 5)}));
  EXPECT_EQ(hits(), Sessions{"t-talk"});
  set_mtime(rollout("t-talk"), kDay + 10);
  EXPECT_EQ(codex().sessions_mentioning(repo_.root(), {sha_}, kDay + 3600, {})->count(sha_), 0u);
}

TEST(CodexStore, NoSessionsDirectoryIsNoAnswer) {
  TempDir empty;
  ScopedEnv env{{"CODEX_HOME", empty.path().string()}};
  EXPECT_EQ(codex().sessions_mentioning(empty.path(), {"0123456789abcdef0123456789abcdef01234567"}, std::nullopt, {}),
            std::nullopt);
}

}  // namespace
}  // namespace tamrik::agents
