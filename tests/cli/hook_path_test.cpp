// The agent hook path run as a harness runs it: `tamrik attest add
// --from-hook` with a PostToolUse payload on stdin. Whatever the payload, it
// exits 0 and prints nothing but the nudge.

#include "cli_fixture.hpp"
#include "host/protocol/http_client.hpp"
#include "platform/platform_process.hpp"

#include <ctime>

namespace tamrik::testing {
namespace {

class HookPath : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    set_up_repository();
  }

  // A commit the harness's agent made where git hooks do not run (a
  // harness that bypasses them), so only the hook path can record it.
  std::string commit_without_git_hooks(const std::string& subject) {
    write_text(repo_.root() / "work.txt", subject + "\n");
    repo_.git({"add", "work.txt"});
    repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "-m", subject});
    return repo_.head();
  }

  static ordered_json payload(const std::string& command, ordered_json response = {{"interrupted", false}}) {
    return {{"session_id", "9a1f-session"},
            {"tool_name", "Bash"},
            {"tool_input", {{"command", command}}},
            {"tool_response", std::move(response)}};
  }

  ordered_json in_repo(ordered_json p) const {
    p["cwd"] = repo_.root().string();
    return p;
  }

  TamrikResult hook(const std::string& input, const fs::path& cwd = {}) {
    const TamrikResult result = run_tamrik({.args = {"attest", "add", "--from-hook", "--agent", "claude-code"},
                                            .cwd = cwd.empty() ? repo_.root() : cwd,
                                            .input = input});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result;
  }

  static std::string nudge_for(const std::string& commit) {
    const std::string short_hash = commit.substr(0, 7);
    const ordered_json expected = {
        {"hookSpecificOutput",
         {{"hookEventName", "PostToolUse"},
          {"additionalContext",
           "tamrik recorded commit " + short_hash +
               " without an attestation. Write .tamrik/.commit-attestation.yaml for it (format: `tamrik attest "
               "--example`), then run `tamrik attest add --commit " +
               short_hash + "` to attach it. Skip if this commit was intentionally unattested."}}}};
    return expected.dump() + "\n";
  }
};

TEST_F(HookPath, PayloadsThatAreNotACleanGitCommitRecordNothing) {
  const std::string head = commit_without_git_hooks("feat: unseen");
  const std::vector<std::string> inputs = {
      "",
      "not json",
      "[1, 2]",
      in_repo({{"tool_name", "Read"}, {"tool_input", {{"file_path", "x"}}}}).dump(),
      in_repo(payload("git status")).dump(),
      in_repo(payload("git commit -m x", {{"exit_code", 1}})).dump(),
      in_repo(payload("git commit -m x", {{"exitCode", 128}})).dump(),
      in_repo(payload("git commit -m x", {{"interrupted", true}})).dump(),
      in_repo(payload("GIT COMMIT -m x")).dump(),
      in_repo(payload("git log\ncommit")).dump(),
      in_repo(payload("gitcommit")).dump(),
      in_repo({{"tool_name", "Bash"}, {"tool_input", "git commit"}}).dump(),
  };
  for (const std::string& input : inputs) {
    const TamrikResult result = hook(input);
    EXPECT_EQ(result.out, "") << input;
  }
  EXPECT_EQ(records_of(head), 0u);
}

TEST_F(HookPath, RecordsTheCommitOnceAndNudgesOnce) {
  const std::string head = commit_without_git_hooks("feat: made by the agent");
  const std::string input = in_repo(payload("git add . && git commit -m 'feat: made by the agent'")).dump();

  EXPECT_EQ(hook(input).out, nudge_for(head));
  EXPECT_EQ(hook(input).out, "");
  ASSERT_EQ(records_of(head), 1u);
  EXPECT_EQ(ledger().back().value("agent_session_id", ""), "9a1f-session");
}

TEST_F(HookPath, CleanResponsesAndCommandFormsThatCountAsACommit) {
  const std::vector<std::pair<std::string, ordered_json>> cases = {
      {"git  commit --amend --no-edit", {{"exitCode", 0}}},
      {"git-commit -m x", {{"exit_code", "1"}}},  // text says nothing
      {"git -C . commit -m x", ordered_json::object()},
  };
  for (const auto& [command, response] : cases) {
    const std::string head = commit_without_git_hooks("chore: " + command);
    EXPECT_EQ(hook(in_repo(payload(command, response)).dump()).out, nudge_for(head)) << command;
    EXPECT_EQ(records_of(head), 1u) << command;
  }
}

TEST_F(HookPath, FindsTheRepositoryFromASubdirectoryOrFromItsOwnDirectory) {
  fs::create_directories(repo_.root() / "sub" / "deeper");
  std::string head = commit_without_git_hooks("feat: from sub");
  ordered_json from_sub = payload("cd sub && git commit -m x");
  from_sub["cwd"] = (repo_.root() / "sub" / "deeper").string();
  EXPECT_EQ(hook(from_sub.dump()).out, nudge_for(head));

  head = commit_without_git_hooks("feat: no cwd");
  EXPECT_EQ(hook(payload("git commit -m x").dump(), repo_.root() / "sub").out, nudge_for(head));
  EXPECT_EQ(records_of(head), 1u);
}

TEST_F(HookPath, AnOldHeadIsNotRecorded) {
  write_text(repo_.root() / "old.txt", "old\n");
  repo_.git({"add", "old.txt"});
  const std::string two_hours_ago = std::to_string(std::time(nullptr) - 7200) + " +0000";
  ::setenv("GIT_COMMITTER_DATE", two_hours_ago.c_str(), 1);
  repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "-m", "feat: old"});
  ::unsetenv("GIT_COMMITTER_DATE");

  EXPECT_EQ(hook(in_repo(payload("git commit -m x")).dump()).out, "");
  EXPECT_EQ(records_of(repo_.head()), 0u);
}

TEST_F(HookPath, ARepositoryNotSetUpIsLeftUntouched) {
  const GitRepo other;
  ordered_json p = payload("git commit -m x");
  p["cwd"] = other.root().string();
  write_text(other.root() / "f.txt", "x\n");
  other.git({"add", "f.txt"});
  other.git({"commit", "-q", "-m", "feat: elsewhere"});
  EXPECT_EQ(hook(p.dump()).out, "");
  EXPECT_FALSE(fs::exists(other.root() / ".tamrik"));
}

TEST_F(HookPath, AnAttestedCommitIsRecordedWithoutANudge) {
  write_text(repo_.root() / "attested.txt", "attested\n");
  repo_.git({"add", "attested.txt"});
  const std::string hash =
      lines_of(run_command({"sh", "-c", "git diff --staged | sha256sum"}, repo_.root()).out)[0].substr(0, 64);
  ASSERT_EQ(tamrik({"attest", "--staged-diff-hash", hash, "--model", "m", "--summary", "Attested change"}).exit_code,
            0);
  repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "-m", "feat: attested"});

  EXPECT_EQ(hook(in_repo(payload("git commit -m x")).dump()).out, "");
  EXPECT_EQ(records_of(repo_.head()), 1u);
  EXPECT_FALSE(fs::exists(tamrik_dir() / ".commit-attestation.yaml"));
}

// With the post-commit hook installed, git records the agent's commit
// first (git runs inside the agent's Bash call, in its environment); the
// harness's hook then finds it recorded and still nudges, once.
TEST_F(HookPath, AfterThePostCommitHookRecordedItTheNudgeStillComesOnce) {
  ::setenv("CLAUDE_CODE_SESSION_ID", "9a1f-session", 1);
  const std::string head = repo_.commit("feat: through git hooks");
  ::unsetenv("CLAUDE_CODE_SESSION_ID");
  ASSERT_EQ(records_of(head), 1u);
  const std::string input = in_repo(payload("git commit -m x")).dump();
  EXPECT_EQ(hook(input).out, nudge_for(head));
  EXPECT_EQ(hook(input).out, "");
  EXPECT_EQ(records_of(head), 1u);
}

TEST_F(HookPath, APersonsCommitIsNotNudgedAbout) {
  const std::string head = repo_.commit("feat: typed by a person");
  ASSERT_EQ(records_of(head), 1u);
  EXPECT_EQ(hook(in_repo(payload("git log --grep commit")).dump()).out, "");
}

// Editors set CLAUDECODE and CURSOR_TRACE_ID in every integrated terminal,
// where a person types: the commit is nobody's, with the editor as a hint,
// and no later tool call is nudged about it. A strong marker attributes.
TEST_F(HookPath, AnEditorTerminalsMarkersAttributeNothing) {
  ::setenv("CLAUDECODE", "1", 1);
  ::setenv("CURSOR_TRACE_ID", "trace-1", 1);
  const std::string typed = repo_.commit("feat: typed in the editor's terminal");
  const std::string input = in_repo(payload("git commit -m x")).dump();
  EXPECT_EQ(hook(input).out, "");
  ::setenv("CURSOR_AGENT", "1", 1);
  const std::string agents = repo_.commit("feat: made by the editor's agent");
  for (const char* name : {"CLAUDECODE", "CURSOR_TRACE_ID", "CURSOR_AGENT"}) ::unsetenv(name);
  EXPECT_EQ(hook(input).out, nudge_for(agents));

  const std::vector<ordered_json> entries = ledger();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]["commit"], typed);
  EXPECT_EQ(entries[0]["agent"], "unknown");
  EXPECT_EQ(entries[0]["telemetry"], (ordered_json{{"agent_hint", "claude-code"}}));
  EXPECT_EQ(entries[1]["agent"], "cursor");
  EXPECT_FALSE(entries[1].contains("telemetry"));
}

TEST_F(HookPath, UploadsWhenSignedInAndLinkedAndNudgesWhateverTheNetworkDoes) {
  PlatformProcess platform;
  const auto project = protocol::http_client::resolve_project(platform.key(), platform.url(),
                                                              "https://example.com/team/repo.git", std::nullopt);
  ASSERT_EQ(tamrik({"setup", "project", project["projectId"].dump()}).exit_code, 0);
  ::setenv("TAMRIK_API_KEY", platform.key().c_str(), 1);
  ::setenv("TAMRIK_API_URL", platform.url().c_str(), 1);

  std::string head = commit_without_git_hooks("feat: uploaded");
  EXPECT_EQ(hook(in_repo(payload("git commit -m x")).dump()).out, nudge_for(head));
  for (const ordered_json& entry : ledger()) EXPECT_TRUE(entry.value("synced", false)) << entry.dump();

  platform.stop();
  head = commit_without_git_hooks("feat: platform down");
  EXPECT_EQ(hook(in_repo(payload("git commit -m x")).dump()).out, nudge_for(head));
  EXPECT_FALSE(ledger().back().value("synced", true));
}

}  // namespace
}  // namespace tamrik::testing
