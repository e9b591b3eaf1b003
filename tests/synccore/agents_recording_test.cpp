// Recording through the real adapters. Backfill: a past session's commit is
// recorded with the model and tokens its own transcript shows, and refused
// when no transcript knows the session or names a model. Catch-up: a commit
// no hook saw goes to the one session whose transcript made it, and to
// nobody when two sessions could have.

#include "host/paths.hpp"
#include "host/services/setup_list.hpp"
#include "host/services/shared.hpp"
#include "synccore/capture.hpp"
#include "synccore/catch_up.hpp"

#include "host/agent_fixtures.hpp"

#include <gtest/gtest.h>

namespace tamrik::agents {
namespace {

using namespace testing::agent_fixtures;
using testing::GitRepo;
using testing::TempDir;
using testing::write_text;

class Recording : public ::testing::Test {
 protected:
  Recording() {
    ScopedEnv date{{"GIT_COMMITTER_DATE", std::to_string(static_cast<long long>(kDay)) + " +0000"}};
    sha_ = repo_.commit("fix: parser");
  }

  synccore::BackfillResult backfill(const std::string& session_id) {
    return synccore::record_backfill(services::Checkout::main(repo_.root()),
                                     {.commit = sha_, .session_id = session_id, .task_type = "bug-fix"});
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

TEST_F(Recording, RecordsModelAndTokensFromAClaudeCodeSession) {
  ClaudeSession session{"2e4c6a8b-claude", repo_.root().string()};
  write_claude(session.id,
               {session.prompt("fix the parser", kDay),
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

TEST_F(Recording, RecordsACodexThreadAsCodex) {
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

TEST_F(Recording, RefusesSessionsWithoutTranscriptOrModel) {
  EXPECT_EQ(backfill("9a9a9a9a-unknown").reason, "no agent transcript found for session 9a9a9a9a-unknown");
  ClaudeSession session{"3f3f3f3f-no-model", repo_.root().string()};
  write_claude(session.id, {session.prompt("hello", kDay)});
  EXPECT_EQ(backfill(session.id).reason, "transcript for session 3f3f3f3f-no-model names no model");
  EXPECT_FALSE(std::filesystem::exists(paths::log_jsonl(repo_.root())));
}

TEST_F(Recording, CatchUpGivesACommitToTheSessionThatMadeIt) {
  services::shared::save_local_config(repo_.root(), Json{{"installed_at", "2020-01-01T00:00:00Z"}});
  services::setup_list::add(repo_.root());  // as `tamrik setup` lists it
  ClaudeSession maker{"5e5e5e5e-maker", repo_.root().string()};
  write_claude(maker.id, {maker.bash_call("toolu_1", "git commit -m 'fix: parser'", kDay - 1),
                          maker.bash_result("toolu_1", "[main " + sha_.substr(0, 7) + "] fix: parser\n", kDay + 1)});
  ClaudeSession reader{"6f6f6f6f-reader", repo_.root().string()};
  write_claude(reader.id, {reader.text_reply("m1", "Saw " + sha_, ClaudeSession::usage(1, 1, 0, 0), kDay + 50)});

  const auto results = synccore::catch_up_commits(services::Checkout::main(repo_.root()));
  ASSERT_EQ(results.size(), 1u);
  ASSERT_TRUE(results[0].written) << results[0].reason;
  const Json line = ledger_line();
  EXPECT_EQ(line["agent"], "claude-code");
  EXPECT_EQ(line["agent_session_id"], maker.id);
  EXPECT_EQ(line["telemetry"]["model"], "claude-opus-4-6");
}

TEST_F(Recording, CatchUpNamesNobodyWhenTwoSessionsCouldHaveMadeIt) {
  services::shared::save_local_config(repo_.root(), Json{{"installed_at", "2020-01-01T00:00:00Z"}});
  services::setup_list::add(repo_.root());  // as `tamrik setup` lists it
  for (const std::string id : {"7a7a7a7a-one", "8b8b8b8b-two"}) {
    ClaudeSession session{id, repo_.root().string()};
    write_claude(id, {session.text_reply("m1", "Committed " + sha_, ClaudeSession::usage(1, 1, 0, 0), kDay + 5)});
  }
  const auto results = synccore::catch_up_commits(services::Checkout::main(repo_.root()));
  ASSERT_EQ(results.size(), 1u);
  ASSERT_TRUE(results[0].written) << results[0].reason;
  const Json line = ledger_line();
  EXPECT_EQ(line["agent"], "unknown");
  EXPECT_FALSE(line.contains("agent_session_id"));
}

}  // namespace
}  // namespace tamrik::agents
