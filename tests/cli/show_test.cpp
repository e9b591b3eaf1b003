// `tamrik show`: a record and its attestation laid out for reading, and for
// a commit without a record the reason a person can act on.

#include "cli_fixture.hpp"

namespace tamrik::testing {
namespace {

class Show : public CliTest {
 protected:
  std::string unhooked_commit(const std::string& subject,
                              std::vector<std::pair<std::string, std::string>> author = {}) {
    for (const auto& [name, value] : author) ::setenv(name.c_str(), value.c_str(), 1);
    repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m", subject});
    for (const auto& [name, value] : author) ::unsetenv(name.c_str());
    return repo_.head();
  }
};

TEST_F(Show, LaysOutTheRecordAndItsAttestation) {
  set_up_repository();
  const std::string old_commit = unhooked_commit("feat: before the amend");
  const std::string commit = unhooked_commit("feat: rate limits");
  const ordered_json line = {
      {"commit", commit},
      {"branch", "main"},
      {"timestamp", "2026-05-01T10:00:00Z"},
      {"agent", "claude-code"},
      {"summary", "Add rate limiting \x1b[2J to the client"},
      {"synced", true},
      {"agent_provider", "anthropic"},
      {"agent_session_id", "5f0c9a1e"},
      {"developer", {{"git_author_name", "Dana"}, {"git_author_email", "dana@example.com"}}},
      {"telemetry",
       {{"model", "claude-opus-4"},
        {"tokens", {{"input", 1200}, {"output", 300}, {"cache_creation", 4000}, {"cache_read", 1000}}},
        {"turns", 4}}},
      {"rewritten_from", {old_commit}}};
  write_text(tamrik_dir() / "log.jsonl", line.dump() + "\n");
  write_text(tamrik_dir() / "attestations" / (commit + ".yaml"),
             "agent_model: claude-opus-4\ntask_type: feature\ntask_type_source: declared\n"
             "provenance:\n  type: ticket\n  ref: ABC-12\nrules:\n  checked: true\n  applicable:\n    - no-secrets\n"
             "changes:\n  architecture:\n    elements:\n      - name: upload client\n        change: modified\n");

  const TamrikResult result = tamrik({"show"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  for (const std::string& expected : std::vector<std::string>{
           "commit " + commit, "agent      claude-code (anthropic)", "model      claude-opus-4", "session    5f0c9a1e",
           "developer  Dana <dana@example.com>", "task type  feature (declared)", "state      attested, uploaded",
           "tokens     input 1200, output 300, cache 5000", "made from  " + old_commit,
           "    Add rate limiting  [2J to the client", "provenance\n    type: ticket\n    ref: ABC-12",
           "rules checked\n    checked: true", "architecture changes\n    architecture:", "name: upload client"}) {
    EXPECT_NE(result.out.find(expected), std::string::npos) << expected << "\n---\n" << result.out;
  }
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos);

  const ordered_json shown = ordered_json::parse(tamrik({"show", commit.substr(0, 12), "--json"}).out);
  EXPECT_EQ(shown["recorded"], true);
  EXPECT_EQ(shown["record"]["task_type"], "feature");
  EXPECT_EQ(shown["entry"], line);
  EXPECT_EQ(shown["attestation"]["provenance"]["ref"], "ABC-12");
  EXPECT_EQ(tamrik({"show", "no-such-commit"}).exit_code, 2);
}

TEST_F(Show, SaysWhyACommitHasNoRecordAndWhatToDo) {
  const auto reason = [&](const std::string& commit) {
    const TamrikResult result = tamrik({"show", commit, "--json"});
    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
    return ordered_json::parse(result.out)["reason"].get<std::string>();
  };
  const std::string before_setup = repo_.head();
  EXPECT_NE(reason(before_setup).find("not set up in this repository"), std::string::npos);

  set_up_repository();
  EXPECT_NE(reason(before_setup).find("made before tamrik was set up here"), std::string::npos);
  EXPECT_NE(reason(unhooked_commit("theirs", {{"GIT_AUTHOR_NAME", "Ola"}, {"GIT_AUTHOR_EMAIL", "ola@example.com"}}))
                .find("made by Ola <ola@example.com>, whose own clone records it"),
            std::string::npos);
  EXPECT_NE(reason(unhooked_commit("mine")).find("made in another clone"), std::string::npos);
  fs::remove(repo_.root() / ".git" / "hooks" / "post-commit");
  EXPECT_NE(reason(unhooked_commit("hookless")).find("no post-commit hook"), std::string::npos);
  const TamrikResult text = tamrik({"show"});
  EXPECT_EQ(text.out.rfind(
                "No record for commit " + repo_.head().substr(0, 9) + ": this checkout has no post-commit hook", 0),
            0u)
      << text.out;
}

}  // namespace
}  // namespace tamrik::testing
