// `tamrik hook session-start`: the harness's SessionStart row. It records
// the commits no hook saw and hands the agent the session summary; in a
// repository that is not set up it prints nothing and creates nothing.

#include "cli_fixture.hpp"

namespace tamrik::testing {
namespace {

class SessionStart : public CliTest {};

TEST_F(SessionStart, PrintsNothingInARepositoryThatIsNotSetUp) {
  const ordered_json payload = {{"session_id", "s"}, {"source", "startup"}, {"cwd", repo_.root().string()}};
  const TamrikResult result = tamrik({"hook", "session-start", "--agent", "claude-code"}, payload.dump());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(fs::exists(tamrik_dir()));
}

TEST_F(SessionStart, CatchesUpThenHandsTheSummaryToTheAgent) {
  set_up_repository();
  repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m", "fix: no hook saw this"});
  const std::string missed = repo_.head();
  const TempDir elsewhere;
  const ordered_json payload = {{"session_id", "s"}, {"source", "startup"}, {"cwd", repo_.root().string()}};

  const TamrikResult result =
      tamrik({"hook", "session-start", "--agent", "claude-code"}, payload.dump(), elsewhere.path());
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(records_of(missed), 1u);
  const ordered_json output = ordered_json::parse(result.out);
  EXPECT_EQ(output["hookSpecificOutput"]["hookEventName"], "SessionStart");
  const std::string context = output["hookSpecificOutput"]["additionalContext"];
  EXPECT_TRUE(context.starts_with("tamrik session context loaded\n")) << context;
  EXPECT_NE(context.find("  agent: claude-code"), std::string::npos);
  EXPECT_NE(context.find(" attestation(s) recorded locally, waiting for a project"), std::string::npos) << context;
  EXPECT_EQ(lines_of(result.out).size(), 1u);
}

TEST_F(SessionStart, AHarnessWithoutAJsonFormGetsPlainText) {
  set_up_repository();
  const TamrikResult result = tamrik({"hook", "session-start", "--agent", "cursor"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.out.starts_with("tamrik session context loaded\n  agent: cursor\n")) << result.out;
}

TEST_F(SessionStart, PostToolIsTheHookPathUnderAnotherName) {
  set_up_repository();
  repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m", "feat: agent"});
  const ordered_json payload = {{"tool_name", "Bash"},
                                {"tool_input", {{"command", "git commit --allow-empty -m agent"}}},
                                {"cwd", repo_.root().string()}};
  const TamrikResult result = tamrik({"hook", "post-tool"}, payload.dump());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.out.find("\"hookEventName\":\"PostToolUse\""), std::string::npos) << result.out;
  EXPECT_EQ(records_of(repo_.head()), 1u);
}

}  // namespace
}  // namespace tamrik::testing
