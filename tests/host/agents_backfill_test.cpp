// Backfill through the real adapters: a past session's commit is recorded
// with the model and tokens its own transcript shows, and refused when no
// transcript knows the session or names a model.

#include "host/paths.hpp"
#include "synccore/capture.hpp"

#include "host/agent_fixtures.hpp"

#include <gtest/gtest.h>

namespace tamrik::agents {
namespace {

using namespace testing::agent_fixtures;
using testing::GitRepo;
using testing::TempDir;
using testing::write_text;

class Backfill : public ::testing::Test {
 protected:
  Backfill() { sha_ = repo_.commit("fix: parser"); }

  synccore::BackfillResult backfill(const std::string& session_id) {
    return synccore::record_backfill(repo_.root(), {.commit = sha_, .session_id = session_id, .task_type = "bug-fix"});
  }

  Json ledger_line() const {
    const std::string text = testing::read_text(paths::log_jsonl(repo_.root()));
    return Json::parse(text.substr(0, text.find('\n')));
  }

  void write_claude(const std::string& id, const std::vector<Json>& lines) {
    write_text(stores_.path() / "claude" / "projects" / "-some-project" / (id + ".jsonl"), jsonl(lines));
  }

  GitRepo repo_;
  std::string sha_;
  TempDir stores_;

 private:
  ScopedEnv env_{{"CLAUDE_CONFIG_DIR", (stores_.path() / "claude").string()},
                 {"CODEX_HOME", (stores_.path() / "codex").string()}};
};

TEST_F(Backfill, RecordsModelAndTokensFromAClaudeCodeSession) {
  ClaudeSession session{"2e4c6a8b-claude", repo_.root().string()};
  write_claude(session.id, {session.prompt("fix the parser", kDay),
                            session.text_reply("msg_1", "Fixed.", ClaudeSession::usage(12, 340, 800, 5000), kDay + 30)});
  const auto result = backfill(session.id);
  ASSERT_TRUE(result.written) << result.reason;
  EXPECT_TRUE(result.tokens);
  const Json line = ledger_line();
  EXPECT_EQ(line["agent"], "claude-code");
  EXPECT_EQ(line["agent_provider"], "anthropic");
  EXPECT_EQ(line["agent_session_id"], session.id);
  EXPECT_EQ(line["telemetry"]["model"], "claude-opus-4-6");
  EXPECT_EQ(line["telemetry"]["tokens"]["output"], 340);
  EXPECT_EQ(line["telemetry"]["tokens"]["cache_read"], 5000);
  EXPECT_EQ(line["telemetry"]["agent_runtime"], "claude-code");
}

TEST_F(Backfill, RecordsACodexThreadAsCodex) {
  const std::string thread = "0199d000-aaaa-7000-8000-backfill0001";
  write_text(codex_rollout(stores_.path() / "codex", thread),
             jsonl({codex_meta(thread, repo_.root().string(), kDay),
                    codex_turn("t1", "gpt-5.3-codex", repo_.root().string(), kDay + 1),
                    codex_tokens(codex_usage(5000, 4000, 120), kDay + 9)}));
  const auto result = backfill(thread);
  ASSERT_TRUE(result.written) << result.reason;
  const Json line = ledger_line();
  EXPECT_EQ(line["agent"], "codex");
  EXPECT_EQ(line["agent_provider"], "openai");
  EXPECT_EQ(line["telemetry"]["model"], "gpt-5.3-codex");
  EXPECT_EQ(line["telemetry"]["tokens"]["input"], 1000);
}

TEST_F(Backfill, RefusesSessionsWithoutTranscriptOrModel) {
  EXPECT_EQ(backfill("9a9a9a9a-unknown").reason, "no agent transcript found for session 9a9a9a9a-unknown");
  ClaudeSession session{"3f3f3f3f-no-model", repo_.root().string()};
  write_claude(session.id, {session.prompt("hello", kDay)});
  EXPECT_EQ(backfill(session.id).reason, "transcript for session 3f3f3f3f-no-model names no model");
  EXPECT_FALSE(std::filesystem::exists(paths::log_jsonl(repo_.root())));
}

}  // namespace
}  // namespace tamrik::agents
