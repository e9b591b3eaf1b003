// `tamrik sync` against a real tamrik-platform: linking, upload and refresh
// each reported on one line, and the exit status says whether any failed.

#include "cli_fixture.hpp"

#include "host/fault_server.hpp"
#include "platform/platform_process.hpp"

namespace tamrik::testing {
namespace {

class SyncCommand : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    write_text(context_.path() / "rules.yaml", "principles:\n  p1: {text: one}\n  p2: {text: two}\n");
    repo_.git({"remote", "add", "origin", "git@example.com:acme/cli-sync.git"});
    set_up_repository();
    ::setenv("TAMRIK_SKIP_PLATFORM_SKILLS", "1", 1);
  }
  void TearDown() override {
    ::unsetenv("TAMRIK_SKIP_PLATFORM_SKILLS");
    ::unsetenv("TAMRIK_DEBUG");
    CliTest::TearDown();
  }
  void sign_in() {
    ASSERT_EQ(tamrik({"auth", "login", "--api-url", platform_.url()}, platform_.key() + "\n").exit_code, 0);
  }
  // `tamrik sync` with the environment's key or URL in place of the stored ones.
  TamrikResult sync_with(std::vector<std::pair<std::string, std::string>> env, std::vector<std::string> flags = {}) {
    std::vector<std::string> args = {"sync"};
    args.insert(args.end(), flags.begin(), flags.end());
    return run_tamrik({.args = args, .cwd = repo_.root(), .env = std::move(env)});
  }
  static bool has_line(const std::string& out, const std::string& line) {
    const std::vector<std::string> lines = lines_of(out);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  TempDir context_;
  PlatformProcess platform_{PlatformOptions{.context_dir = context_.path()}};
};

TEST_F(SyncCommand, LinksUploadsAndRefreshesThenHasNothingLeftToSend) {
  sign_in();
  repo_.commit("feat: one");
  repo_.commit("feat: two");

  const TamrikResult first = tamrik({"sync"});
  EXPECT_EQ(first.exit_code, 0) << first.out << first.err;
  EXPECT_TRUE(has_line(first.out, "Created and linked project 1 (cli-sync).")) << first.out;
  EXPECT_TRUE(has_line(first.out, "Uploaded 2 record(s).")) << first.out;
  EXPECT_TRUE(has_line(first.out, "Refreshed the project context; rules: 2.")) << first.out;
  for (const ordered_json& entry : ledger()) EXPECT_TRUE(entry.value("synced", false)) << entry.dump();

  const TamrikResult second = tamrik({"sync"});
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_TRUE(has_line(second.out, "Nothing to upload: every record is on the platform.")) << second.out;
}

// Setup, a commit, a sync and an uninstall leave nothing for git to show,
// and a team's tracked AGENTS.md gets tamrik's block only when asked for.
TEST_F(SyncCommand, LeavesTheWorkingTreeCleanAndTrackedInstructionsAloneUnlessAsked) {
  const std::string team = "# Team rules\n";
  repo_.commit("docs: team rules", "AGENTS.md", team);
  fs::remove(repo_.root() / ".mcp.json");  // Claude Code's project file; this repository hooks Codex only
  ASSERT_EQ(tamrik({"setup", "--agents", "codex"}).exit_code, 0);
  sign_in();
  repo_.commit("feat: one");
  // As an earlier setup left it: a .gitignore holding only tamrik's block.
  write_text(repo_.root() / ".gitignore", "# >>> tamrik: local ledger and cache >>>\n/.tamrik/\n# <<< tamrik <<<\n");
  const TamrikResult sync = tamrik({"sync"});
  EXPECT_EQ(sync.exit_code, 0) << sync.out << sync.err;
  EXPECT_NE(sync.out.find("moved from .gitignore to .git/info/exclude"), std::string::npos) << sync.out;
  EXPECT_FALSE(fs::exists(repo_.root() / ".gitignore"));
  EXPECT_EQ(read_text(repo_.root() / "AGENTS.md"), team);
  EXPECT_EQ(repo_.git({"status", "--porcelain", "--untracked-files=all"}), "");

  const TamrikResult asked = tamrik({"setup", "--guidance"});
  EXPECT_NE(asked.out.find("agent guidance: written to AGENTS.md"), std::string::npos) << asked.out;
  repo_.git({"checkout", "AGENTS.md"});
  const TamrikResult resync = tamrik({"sync"});
  EXPECT_TRUE(has_line(resync.out, "Updated tamrik's guidance block in AGENTS.md.")) << resync.out;
  EXPECT_TRUE(read_text(repo_.root() / "AGENTS.md").starts_with(team + "<!-- >>> tamrik"));

  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_EQ(read_text(repo_.root() / "AGENTS.md"), team);
  EXPECT_EQ(repo_.git({"status", "--porcelain", "--untracked-files=all"}), "");
}

TEST_F(SyncCommand, ARecordTooLargeToUploadIsSetAsideShownAndSentOnceShrunk) {
  sign_in();
  repo_.commit("feat: one");
  const std::string big = repo_.commit("feat: big");
  repo_.commit("feat: three");
  // An attestation and a change ledger of 5 MiB each: neither is refused on
  // its own, but the record carrying both is over what one request may hold.
  const fs::path archive = tamrik_dir() / "attestations" / (big + ".yaml");
  const fs::path change_ledger = tamrik_dir() / "attestations" / (big + ".ledger.jsonl");
  write_text(archive, "summary: " + std::string(5 << 20, 'x') + "\n");
  write_text(change_ledger, "{\"note\": \"" + std::string(5 << 20, 'y') + "\"}\n");
  const auto uploads = [this] {
    const std::string log = platform_.log();
    size_t count = 0;
    for (size_t at = log.find("POST /v1/projects/1/attestations"); at != std::string::npos;
         at = log.find("POST /v1/projects/1/attestations", at + 1)) {
      ++count;
    }
    return count;
  };
  const auto status_json = [this] { return ordered_json::parse(tamrik({"status", "--json"}).out); };
  const std::string set_aside_warning = "1 record(s) are too large for the platform and were set aside, not uploaded";

  const TamrikResult first = tamrik({"sync"});
  EXPECT_EQ(first.exit_code, 0) << first.out << first.err;
  EXPECT_TRUE(has_line(first.out, "Uploaded 2 record(s).")) << first.out;
  EXPECT_NE(first.err.find(set_aside_warning), std::string::npos) << first.err;
  EXPECT_EQ(status_json()["ledger"]["too_large"], 1);
  EXPECT_EQ(status_json()["ledger"]["pending"], 1);
  const TamrikResult shown = tamrik({"status"});
  EXPECT_NE(shown.out.find("  too large:   1 set aside, not uploaded: " + big.substr(0, 12) + " (10.0 MiB)"),
            std::string::npos)
      << shown.out;
  EXPECT_NE(shown.err.find("then run `tamrik sync`"), std::string::npos) << shown.err;

  const size_t sent = uploads();
  const TamrikResult second = tamrik({"sync"});
  EXPECT_EQ(second.exit_code, 0) << second.out << second.err;
  EXPECT_NE(second.err.find(set_aside_warning), std::string::npos) << second.err;
  EXPECT_EQ(second.out.find("Nothing to upload"), std::string::npos) << second.out;
  EXPECT_EQ(uploads(), sent);

  write_text(archive, "summary: Shortened\n");
  write_text(change_ledger, "{\"note\": \"short\"}\n");
  const TamrikResult third = tamrik({"sync"});
  EXPECT_EQ(third.exit_code, 0) << third.out << third.err;
  EXPECT_TRUE(has_line(third.out, "Uploaded 1 record(s).")) << third.out;
  EXPECT_EQ(third.err.find("too large"), std::string::npos) << third.err;
  EXPECT_EQ(status_json()["ledger"]["too_large"], 0);
  EXPECT_EQ(status_json()["ledger"]["pending"], 0);
}

TEST_F(SyncCommand, WithoutSignInItFilesTheAttestationNamesTheRemedyAndFails) {
  write_text(tamrik_dir() / ".commit-attestation.yaml",
             "---\nstaged_diff_hash: \"\"\nagent_model: m\nsummary: s\n---\n");
  const TamrikResult result = tamrik({"sync"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("Not linked to a project: not signed in"), std::string::npos) << result.err;
  EXPECT_TRUE(has_line(result.out, "Run `tamrik auth login` and they upload on the next `tamrik sync`.")) << result.out;
  EXPECT_NE(result.out.find("Filed the pending attestation for HEAD."), std::string::npos) << result.out;
  EXPECT_FALSE(fs::exists(tamrik_dir() / ".commit-attestation.yaml"));
}

TEST_F(SyncCommand, FailedRefreshFailsTheSyncAndNamesTheDebugLogOnlyWhenWritten) {
  sign_in();
  write_text(context_.path() / "rules.yaml", "- rules must be a map\n");

  const TamrikResult quiet = tamrik({"sync"});
  EXPECT_EQ(quiet.exit_code, 1);
  EXPECT_NE(quiet.err.find("Context refresh failed at fetch (ServerError)"), std::string::npos) << quiet.err;
  EXPECT_EQ(quiet.out.find("details:"), std::string::npos);

  ::setenv("TAMRIK_DEBUG", "1", 1);
  const TamrikResult debug = tamrik({"sync"});
  const fs::path log = tamrik_dir() / ".platform" / "logs" / "sync.log";
  EXPECT_TRUE(has_line(debug.out, "details: " + log.string())) << debug.out;
  EXPECT_TRUE(fs::exists(log));
}

// Each failure is followed by its cause and what to do, also where nothing
// was left to upload and the refresh was the only request refused.
TEST_F(SyncCommand, FailuresNameTheirCauseAndTheRemedy) {
  const TamrikResult clear_text =
      sync_with({{"TAMRIK_API_KEY", platform_.key()}, {"TAMRIK_API_URL", "http://tamrik.example.com"}});
  EXPECT_EQ(clear_text.exit_code, 1);
  EXPECT_NE(clear_text.err.find("Not linked to a project: could not reach tamrik (ConfigurationError)"),
            std::string::npos)
      << clear_text.err;
  EXPECT_NE(clear_text.out.find("http:// is accepted only for this machine"), std::string::npos) << clear_text.out;

  sign_in();
  ASSERT_EQ(tamrik({"sync"}).exit_code, 0);
  const TamrikResult wrong_key = sync_with({{"TAMRIK_API_KEY", "sk-not-this-one"}});
  EXPECT_EQ(wrong_key.exit_code, 1);
  EXPECT_TRUE(has_line(wrong_key.out, "Nothing to upload: every record is on the platform.")) << wrong_key.out;
  EXPECT_NE(wrong_key.err.find("Context refresh failed at fetch (AgentApiError)"), std::string::npos) << wrong_key.err;
  EXPECT_TRUE(has_line(wrong_key.out, "API key rejected: run `tamrik auth login`.")) << wrong_key.out;
}

// A platform that takes the connections and never answers holds the sync
// (its refresh: several requests at once) no longer than its deadline.
TEST_F(SyncCommand, ASilentPlatformEndsTheSyncAtItsDeadline) {
  sign_in();
  ASSERT_EQ(tamrik({"sync"}).exit_code, 0);
  FaultServer silent([](FaultConnection& connection) {
    connection.read_request();
    connection.stall();
  });
  const TamrikResult stalled = sync_with({{"TAMRIK_API_URL", silent.url()}}, {"--timeout", "2"});
  EXPECT_EQ(stalled.exit_code, 1);
  EXPECT_NE(stalled.err.find("Context refresh failed at fetch (TimeoutError)"), std::string::npos) << stalled.err;
  EXPECT_NE(
      stalled.err.find("Stopped waiting for the platform at " + silent.url() + " after 2 s, the time a sync allows"),
      std::string::npos)
      << stalled.err;
  EXPECT_EQ(stalled.err.find("Waiting"), std::string::npos) << "no progress line where stderr is no terminal";
}

TEST_F(SyncCommand, TeamIdDoesNotGoWithTheHookFlag) {
  EXPECT_EQ(tamrik({"sync", "--record-commit", "--team-id", "3"}).exit_code, 2);
  EXPECT_EQ(tamrik({"sync", "--team-id", "0"}).exit_code, 2);
  EXPECT_EQ(tamrik({"sync", "--record-commit", "--timeout", "5"}).exit_code, 2);
}

}  // namespace
}  // namespace tamrik::testing
