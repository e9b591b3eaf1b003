// `tamrik status`: the text a person reads and the JSON form scripts rely
// on, whose keys are stable.

#include "cli_fixture.hpp"

namespace tamrik::testing {
namespace {

class Status : public CliTest {};

TEST_F(Status, JsonFormCountsTheLedgerAndReportsTheSetup) {
  set_up_repository();
  repo_.commit("feat: one");
  repo_.commit("fix: two");
  write_text(tamrik_dir() / ".commit-attestation.yaml", "---\nsummary: waiting\n---\n");
  write_text(home_.path() / ".config" / "tamrik" / "credentials.json",
             R"({"api_key": "k-secret", "api_url": "http://127.0.0.1:9"})");

  const TamrikResult result = tamrik({"status", "--json"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const ordered_json status = ordered_json::parse(result.out);
  std::vector<std::string> keys;
  for (const auto& [key, value] : status.items()) keys.push_back(key);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"repo_root", "set_up", "committed_files", "linked", "project_id", "signed_in",
                                      "api_url", "ledger", "rules", "pending_attestation", "hooks"}));
  EXPECT_EQ(status["repo_root"], repo_.root().string());
  EXPECT_TRUE(status["set_up"]);
  EXPECT_FALSE(status["linked"]);
  EXPECT_TRUE(status["signed_in"]);
  EXPECT_EQ(result.out.find("k-secret"), std::string::npos);
  EXPECT_EQ(status["ledger"]["pending"], 2);
  EXPECT_EQ(status["ledger"]["unattested"], 2);
  EXPECT_EQ(status["ledger"]["too_large"], 0);
  EXPECT_EQ(status["rules"]["count"], nullptr);
  EXPECT_TRUE(status["pending_attestation"]);
  EXPECT_TRUE(status["hooks"]["post_commit"]);
  EXPECT_EQ(status["hooks"]["agents"], (ordered_json{{"claude-code", true}}));

  // An empty name in the list is no agent, for status as for sync and setup.
  const fs::path config = tamrik_dir() / ".platform" / "config.yaml";
  std::string text = read_text(config);
  text.replace(text.find("  - claude-code"), 0, "  - ''\n");
  write_text(config, text);
  EXPECT_EQ(ordered_json::parse(tamrik({"status", "--json"}).out)["hooks"]["agents"],
            (ordered_json{{"claude-code", true}}));
}

TEST_F(Status, TextFormSaysWhatIsMissingAndHowToFixIt) {
  TamrikResult result = tamrik({"status"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.err.find("tamrik is not set up here; run `tamrik setup`"), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("hooks:       post-commit missing — run `tamrik setup`"), std::string::npos) << result.out;

  set_up_repository();
  ASSERT_EQ(tamrik({"setup", "project", "7"}).exit_code, 0);
  repo_.commit("feat: one");
  result = tamrik({"status"});
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find("  project:     7\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  ledger:      1 pending upload, 0 uploaded"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("claude-code installed"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace tamrik::testing
