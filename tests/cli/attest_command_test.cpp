// `tamrik attest` and `tamrik attest add` from the command line: every
// message and exit status a user or an agent sees.

#include "cli_fixture.hpp"
#include "host/agent_fixtures.hpp"
#include "host/hooks/scripts.hpp"
#include "host/services/git_identity.hpp"

#include <algorithm>

namespace tamrik::testing {
namespace {

using agent_fixtures::ClaudeSession;

class AttestCommand : public CliTest {
 protected:
  // Stages a change and returns the hash `tamrik attest` must be given.
  std::string stage_change() {
    write_text(repo_.root() / "feature.txt", "new feature\n");
    repo_.git({"add", "feature.txt"});
    return services::shared::get_staged_diff_hash(repo_.root()).value();
  }

  TamrikResult attest(const std::string& hash, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"attest",    "--staged-diff-hash", hash, "--model", "claude-opus-4-6",
                                  "--summary", "Add the feature"};
    args.insert(args.end(), more.begin(), more.end());
    return tamrik(args);
  }

  fs::path pending() const { return tamrik_dir() / ".commit-attestation.yaml"; }
};

TEST_F(AttestCommand, ExamplePrintsTheTemplateWithoutAnyOtherFlagOrRepository) {
  const TempDir elsewhere;
  const TamrikResult result = tamrik({"attest", "--example"}, "", elsewhere.path());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, std::string(hooks::scripts::example_attestation()));
  EXPECT_EQ(result.err, "");
}

TEST_F(AttestCommand, MissingRequiredFlagsAreNamedInOrder) {
  TamrikResult result = tamrik({"attest"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Missing required flags: --staged-diff-hash, --model, --summary\n");

  result = tamrik({"attest", "--summary", "x", "--model", "m"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Missing required flags: --staged-diff-hash\n");
  EXPECT_FALSE(fs::exists(pending()));
}

TEST_F(AttestCommand, StagedDiffHashMatchesTheDocumentedShellPipeline) {
  const std::string hash = stage_change();
  const CommandResult piped = run_command({"sh", "-c", "git diff --staged | sha256sum | cut -d' ' -f1"}, repo_.root());
  EXPECT_EQ(piped.out, hash + "\n");
}

TEST_F(AttestCommand, HashThatDiffersOnlyInCaseIsAMismatchEvenWithoutValidation) {
  const std::string hash = stage_change();
  std::string upper = hash;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  write_text(pending(), "earlier\n");

  const TamrikResult result = attest(upper, {"--no-verify"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Diff hash mismatch — staged changes have changed since hash was computed\n");
  EXPECT_TRUE(
      result.out.starts_with("  Provided: " + upper.substr(0, 16) + "...\n  Current:  " + hash.substr(0, 16) +
                             "...\n  If nothing was staged since, the hash was computed from other text: "
                             "tamrik hashes `git diff-index --cached -p -M HEAD | sed 's/\\r$//' | shasum -a 256`"))
      << result.out;
  EXPECT_EQ(read_text(pending()), "earlier\n");
}

// Files staged after `tamrik attest` make a commit the attestation does not
// describe: it is filed on it all the same, flagged on the line and in the
// archive (both go to the platform), and status says so.
TEST_F(AttestCommand, AnAttestationOfAnEarlierStagingIsFiledFlagged) {
  set_up_repository();
  ASSERT_EQ(attest(stage_change()).exit_code, 0);
  write_text(repo_.root() / "later.txt", "staged after the attestation\n");
  repo_.git({"add", "later.txt"});
  std::string head;
  {
    const agent_fixtures::ScopedEnv agent{{"CLAUDE_CODE_SESSION_ID", "s-1"}};
    head = repo_.commit("feat: more than was attested");
  }

  const std::vector<ordered_json> entries = ledger();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]["commit"], head);
  EXPECT_EQ(entries[0]["summary"], "Add the feature");
  EXPECT_EQ(entries[0]["diff_hash_mismatch"], true);
  EXPECT_NE(read_text(tamrik_dir() / "attestations" / (head + ".yaml")).find("diff_hash_mismatch: true"),
            std::string::npos);
  const TamrikResult status = tamrik({"status"});
  EXPECT_NE(status.err.find("1 attestation(s) filed on a commit whose change does not match"), std::string::npos)
      << status.out << status.err;
  // The agent's next tool call hears of it once.
  const ordered_json payload = {{"session_id", "s-1"},
                                {"tool_name", "Bash"},
                                {"tool_input", {{"command", "git commit -m x"}}},
                                {"tool_response", {{"interrupted", false}}},
                                {"cwd", repo_.root().string()}};
  const std::vector<std::string> hook{"attest", "add", "--from-hook", "--agent", "claude-code"};
  EXPECT_NE(tamrik(hook, payload.dump()).out.find("does not match that commit's change"), std::string::npos);
  EXPECT_EQ(tamrik(hook, payload.dump()).out, "");
}

TEST_F(AttestCommand, WritesThePendingAttestation) {
  const TamrikResult result = attest(stage_change(), {"--task-type", "feature"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out,
            "Created .tamrik/.commit-attestation.yaml\n  Run 'git commit': the commit whose change hashes to it gets "
            "this attestation; filed on a commit\n  with another change (files staged since), it is marked "
            "diff_hash_mismatch.\n");
  const std::string text = read_text(pending());
  EXPECT_NE(text.find("agent_model: claude-opus-4-6\n"), std::string::npos);
  EXPECT_NE(text.find("task_type: feature\n"), std::string::npos);
}

TEST_F(AttestCommand, ValidationStopsBeforeWritingUnlessSkippedWithExactlyOne) {
  const std::string hash = stage_change();
  const std::vector<std::string> bad_provenance{"--provenance", R"({"type": "spec", "ref": 7})"};

  TamrikResult result = attest(hash, bad_provenance);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_FALSE(result.err.empty());
  EXPECT_FALSE(fs::exists(pending()));

  ::setenv("TAMRIK_NO_VERIFY", "true", 1);
  EXPECT_EQ(attest(hash, bad_provenance).exit_code, 1);
  ::setenv("TAMRIK_NO_VERIFY", "1", 1);
  result = attest(hash, bad_provenance);
  ::unsetenv("TAMRIK_NO_VERIFY");
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(fs::exists(pending()));
}

TEST_F(AttestCommand, JsonFlagErrorsAreReportedOneAtATime) {
  const std::string hash = stage_change();
  TamrikResult result = attest(hash, {"--rules", "{bad", "--provenance", "[]"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(lines_of(result.err).size(), 1u);
  EXPECT_TRUE(result.err.starts_with("Invalid --rules JSON: ")) << result.err;

  result = attest(hash, {"--provenance", "[]"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "--provenance must be a JSON object, got: list\n");
}

TEST_F(AttestCommand, UsageErrorsExitTwoWithTheCommandsUsage) {
  struct Case {
    std::vector<std::string> args;
    std::string usage;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"attest", "--task-type", "Bug-Fix"}, "Usage: tamrik attest [OPTIONS] [SUBCOMMAND]", "--task-type"},
      {{"attest", "add", "--agent", "claude-code", "--commit", "HEAD"},
       "Usage: tamrik attest add [OPTIONS]",
       "Error: --agent is only for hook rows (with --from-hook)"},
      {{"attest", "add", "--agent", ""},
       "Usage: tamrik attest add [OPTIONS]",
       "Error: --agent is only for hook rows (with --from-hook)"},
      {{"attest", "add", "--commit", "HEAD"},
       "Usage: tamrik attest add [OPTIONS]",
       "Error: Missing required options: --session, --task-type"},
      {{"attest", "add", "--task-type", "chore", "--from-hook"}, "", ""},
  };
  for (const Case& c : cases) {
    const TamrikResult result = tamrik(c.args);
    if (c.usage.empty()) {
      EXPECT_EQ(result.exit_code, 0);
      continue;
    }
    EXPECT_EQ(result.exit_code, 2) << c.args.back();
    EXPECT_TRUE(result.err.starts_with(c.usage + "\n")) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(AttestCommand, FromHookIgnoresEveryOtherOption) {
  const TamrikResult result = tamrik({"attest", "add", "--from-hook", "--commit", "nonsense"}, "{}");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(fs::exists(tamrik_dir()));
}

TEST_F(AttestCommand, CommitAndSessionWithAPendingFileIsBackfillNotAttach) {
  write_text(pending(), "---\nsummary: x\n---\n");
  const TamrikResult result = tamrik({"attest", "add", "--commit", "HEAD", "--session", "s"});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_NE(result.err.find("Error: Missing required options: --task-type"), std::string::npos);
}

TEST_F(AttestCommand, AttachesAPendingAttestationToARecordedCommit) {
  set_up_repository();
  const std::string head = repo_.commit("feat: unattested");
  ASSERT_EQ(records_of(head), 1u);
  write_text(pending(), "---\nstaged_diff_hash: " + std::string(64, 'a') +
                            "\ntimestamp: '2026-01-01T00:00:00Z'\nagent_model: m\nsummary: Late attestation\n---\n");

  TamrikResult result = tamrik({"attest", "add", "--commit", "nosuchcommit"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "nosuchcommit: no such commit in this repo\n");

  result = tamrik({"attest", "add", "--commit", head.substr(0, 7)});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "Attached attestation to " + head.substr(0, 12) + "\n");
  EXPECT_EQ(records_of(head), 1u);
  EXPECT_FALSE(fs::exists(pending()));
}

TEST_F(AttestCommand, BackfillsFromTheSessionsTranscriptOnce) {
  const TempDir store;
  ::setenv("CLAUDE_CONFIG_DIR", store.path().c_str(), 1);
  ClaudeSession session{"5b1d-backfill", repo_.root().string()};
  write_text(store.path() / "projects" / "-elsewhere" / (session.id + ".jsonl"),
             agent_fixtures::jsonl(
                 {session.prompt("fix it", agent_fixtures::kDay),
                  session.text_reply("msg_1", "Done.", ClaudeSession::usage(10, 20, 0, 0), agent_fixtures::kDay + 5)}));
  const std::string head = repo_.head();
  const std::vector<std::string> args{"attest",    "add",      "--commit",    head,
                                      "--session", session.id, "--task-type", "bug-fix"};

  TamrikResult result = tamrik(args);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "Recorded " + head.substr(0, 12) + " (bug-fix)\n");

  result = tamrik(args);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, head.substr(0, 12) + " already recorded\n");

  result = tamrik({"attest", "add", "--commit", head, "--session", "unknown-session", "--task-type", "chore"});
  ::unsetenv("CLAUDE_CONFIG_DIR");
  EXPECT_EQ(result.exit_code, 0);  // already recorded comes first
  EXPECT_EQ(records_of(head), 1u);
}

TEST_F(AttestCommand, BackfillOfAnUnknownSessionFailsWithTheCommitAsTyped) {
  const TamrikResult result =
      tamrik({"attest", "add", "--commit", "HEAD", "--session", "nobody", "--task-type", "docs"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "HEAD: no agent transcript found for session nobody\n");
  EXPECT_TRUE(ledger().empty());
}

TEST_F(AttestCommand, OutsideARepositoryTheErrorSaysWhatToDo) {
  const TempDir elsewhere;
  const TamrikResult result = tamrik({"attest", "add", "--commit", "HEAD"}, "", elsewhere.path());
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("not inside a git working tree"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace tamrik::testing
