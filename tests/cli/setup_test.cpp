// `tamrik setup` in real repositories: what it installs (the post-commit
// hook, the agents' hook rows and tool server), that a second run changes
// nothing, that it keeps the user's own hooks and settings, that the
// post-commit hook records real commits and never fails one, and that
// `--uninstall` gives back the files as they were.

#include "cli_fixture.hpp"
#include "host/hooks/agent_guidance.hpp"

#include <sys/stat.h>

#include <map>

namespace tamrik::testing {
namespace {

class Setup : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    ::setenv("CODEX_HOME", codex_home().c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("CODEX_HOME");
    CliTest::TearDown();
  }

  fs::path hook_file() const { return repo_.root() / ".git" / "hooks" / "post-commit"; }
  fs::path settings_file() const { return home_.path() / ".claude" / "settings.json"; }
  fs::path mcp_json() const { return repo_.root() / ".mcp.json"; }
  fs::path claude_json() const { return home_.path() / ".claude.json"; }
  fs::path codex_home() const { return home_.path() / "codex-home"; }
  fs::path codex_hooks() const { return codex_home() / "hooks.json"; }
  fs::path codex_config() const { return codex_home() / "config.toml"; }

  // Every file setup may touch, with its content (absent files left out).
  std::map<fs::path, std::string> snapshot() const {
    std::map<fs::path, std::string> files;
    for (const fs::path& file : {hook_file(), settings_file(), mcp_json(), claude_json(), codex_hooks(), codex_config(),
                                 repo_.root() / ".gitignore", tamrik_dir() / ".platform" / "config.yaml",
                                 tamrik_dir() / "example-attestation.yaml"}) {
      if (fs::exists(file)) files[file] = read_text(file);
    }
    return files;
  }
};

TEST_F(Setup, InstallsEverythingAndASecondRunChangesNothing) {
  set_up_repository();
  const auto first = snapshot();
  EXPECT_EQ(first.size(), 5u);
  EXPECT_EQ(ordered_json::parse(first.at(
                claude_json()))["projects"][fs::canonical(repo_.root()).string()]["mcpServers"]["tamrik"]["command"],
            tamrik_binary().string());
  const std::string config = first.at(tamrik_dir() / ".platform" / "config.yaml");
  EXPECT_NE(config.find("installed_at: "), std::string::npos);
  EXPECT_NE(config.find("agents:\n  - claude-code\n"), std::string::npos);

  const TamrikResult again = tamrik({"setup"});
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(again.out.find("written to"), std::string::npos) << again.out;
  EXPECT_EQ(snapshot(), first);
}

TEST_F(Setup, ACommitIsRecordedThroughTheRealPostCommitHook) {
  set_up_repository();
  const std::string head = repo_.commit("feat: recorded by git");
  EXPECT_EQ(records_of(head), 1u);
  EXPECT_EQ(repo_.git({"status", "--porcelain", "--untracked-files=all"}), "");
}

TEST_F(Setup, KeepsAnExistingShellHookAndUninstallRestoresIt) {
  const std::string user_hook =
      "#!/usr/bin/env bash\necho ran >> \"$(git rev-parse --git-dir)/user-hook.log\"\nexit 0\n";
  write_text(hook_file(), user_hook);
  fs::permissions(hook_file(), fs::perms::owner_all);
  write_text(repo_.root() / ".gitignore", "/build\n");
  const auto before = snapshot();

  set_up_repository();
  const std::string head = repo_.commit("feat: both hooks run");
  EXPECT_EQ(records_of(head), 1u);
  EXPECT_EQ(read_text(repo_.root() / ".git" / "user-hook.log"), "ran\n");
  EXPECT_TRUE(read_text(hook_file()).ends_with("\nexit 0\n"));

  const TamrikResult removed = tamrik({"setup", "--uninstall"});
  EXPECT_EQ(removed.exit_code, 0) << removed.err;
  EXPECT_EQ(snapshot(), before);
  EXPECT_TRUE(fs::exists(tamrik_dir() / "log.jsonl"));  // records are kept
  struct stat st {};
  ASSERT_EQ(::stat(hook_file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(Setup, UninstallOnAFreshRepositoryLeavesNoTrace) {
  set_up_repository();
  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_TRUE(snapshot().empty());
  EXPECT_FALSE(fs::exists(tamrik_dir()));
  EXPECT_EQ(repo_.git({"status", "--porcelain", "--untracked-files=all"}), "");
}

TEST_F(Setup, UninstallTakesTheGuidanceBlockOutAndKeepsTheUsersText) {
  set_up_repository();
  const std::string own_text = "# House rules\n\nRun the tests before pushing.\n";
  write_text(repo_.root() / "CLAUDE.md", own_text);
  hooks::agent_guidance::write_guidance(repo_.root(), {"claude-code", "codex"}, true);
  ASSERT_NE(read_text(repo_.root() / "CLAUDE.md"), own_text);
  ASSERT_TRUE(fs::exists(repo_.root() / "AGENTS.md"));

  const TamrikResult removed = tamrik({"setup", "--uninstall"});
  ASSERT_EQ(removed.exit_code, 0);
  EXPECT_EQ(read_text(repo_.root() / "CLAUDE.md"), own_text);
  EXPECT_FALSE(fs::exists(repo_.root() / "AGENTS.md"));  // it held only our block
  // The report names every file it changed.
  EXPECT_NE(removed.out.find("agent guidance: removed from CLAUDE.md, AGENTS.md\n"), std::string::npos) << removed.out;
}

TEST_F(Setup, AHookInAnotherLanguageIsLeftAloneWithAnExplanation) {
  const std::string python_hook = "#!/usr/bin/env python3\nprint('hi')\n";
  write_text(hook_file(), python_hook);
  fs::permissions(hook_file(), fs::perms::owner_all);

  const TamrikResult result = tamrik({"setup", "--agents", "claude-code"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("is not a shell script"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("sync --record-commit"), std::string::npos);
  EXPECT_EQ(read_text(hook_file()), python_hook);
  EXPECT_TRUE(fs::exists(settings_file()));  // the other steps still ran
}

TEST_F(Setup, HonoursCoreHooksPath) {
  repo_.git({"config", "core.hooksPath", "team-hooks"});
  set_up_repository();
  EXPECT_TRUE(fs::exists(repo_.root() / "team-hooks" / "post-commit"));
  EXPECT_FALSE(fs::exists(hook_file()));
  EXPECT_EQ(records_of(repo_.commit("feat: via hooksPath")), 1u);
}

TEST_F(Setup, KeepsOtherSettingsAndRestoresThemOnUninstall) {
  const ordered_json settings = {
      {"model", "opus"},
      {"hooks",
       {{"PostToolUse", {{{"matcher", "Bash"}, {"hooks", {{{"type", "command"}, {"command", "lint-on-save"}}}}}}}}}};
  write_text(settings_file(), settings.dump(2) + "\n");

  set_up_repository();
  const ordered_json installed = ordered_json::parse(read_text(settings_file()));
  EXPECT_EQ(installed["model"], "opus");
  EXPECT_EQ(installed["hooks"]["PostToolUse"][0]["hooks"][0]["command"], "lint-on-save");
  EXPECT_EQ(installed["hooks"]["PostToolUse"].size(), 2u);
  EXPECT_EQ(installed["hooks"]["SessionStart"].size(), 1u);

  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_EQ(read_text(settings_file()), settings.dump(2) + "\n");
}

TEST_F(Setup, HooksAndRegistersClaudeCodeAndCodexOnceAndUninstallTakesOnlyOurs) {
  const ordered_json user_hooks = {
      {"hooks",
       {{"PostToolUse", {{{"matcher", "Bash"}, {"hooks", {{{"type", "command"}, {"command", "audit-log"}}}}}}},
        {"Stop", {{{"hooks", {{{"type", "command"}, {"command", "notify-done"}}}}}}}}}};
  const std::string user_config = "model = \"o3\"\n";
  write_text(codex_hooks(), user_hooks.dump(2) + "\n");
  write_text(codex_config(), user_config);
  const auto before = snapshot();

  const TamrikResult first = tamrik({"setup", "--agents", "claude-code,codex"});
  ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("codex_hooks = true"), std::string::npos) << first.out;
  const ordered_json hooks = ordered_json::parse(read_text(codex_hooks()));
  EXPECT_EQ(hooks["hooks"]["Stop"], user_hooks["hooks"]["Stop"]);
  ASSERT_EQ(hooks["hooks"]["PostToolUse"].size(), 2u);
  EXPECT_EQ(hooks["hooks"]["PostToolUse"][0], user_hooks["hooks"]["PostToolUse"][0]);
  const ordered_json ours = hooks["hooks"]["PostToolUse"][1]["hooks"][0];
  EXPECT_EQ(ours["command"], tamrik_binary().string() + " attest add --from-hook --agent codex");
  EXPECT_FALSE(ours.contains("if")) << ours.dump();
  EXPECT_EQ(hooks["hooks"]["SessionStart"][0]["hooks"][0]["command"],
            tamrik_binary().string() + " hook session-start --agent codex");
  EXPECT_NE(read_text(codex_config()).find("[mcp_servers.tamrik]\n"), std::string::npos);
  EXPECT_TRUE(read_text(codex_config()).starts_with(user_config));
  EXPECT_TRUE(fs::exists(settings_file()));
  EXPECT_TRUE(fs::exists(claude_json()));
  EXPECT_FALSE(fs::exists(mcp_json()));
  EXPECT_FALSE(fs::exists(home_.path() / ".codex"));  // CODEX_HOME is where Codex looks

  const auto installed = snapshot();
  const TamrikResult again = tamrik({"setup"});
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(again.out.find("written to"), std::string::npos) << again.out;
  EXPECT_EQ(snapshot(), installed);
  const ordered_json status = ordered_json::parse(tamrik({"status", "--json"}).out);
  EXPECT_EQ(status["hooks"]["agents"], ordered_json({{"claude-code", true}, {"codex", true}})) << status.dump();

  const TamrikResult removed = tamrik({"setup", "--uninstall"});
  ASSERT_EQ(removed.exit_code, 0) << removed.err;
  EXPECT_EQ(snapshot(), before);
}

TEST_F(Setup, SyncPutsBackTheRowsAndTheToolServerOfEveryConfiguredAgent) {
  ASSERT_EQ(tamrik({"setup", "--agents", "claude-code,codex"}).exit_code, 0);
  const auto installed = snapshot();
  for (const fs::path& file : {codex_hooks(), codex_config(), settings_file(), claude_json()}) fs::remove(file);

  tamrik({"sync"});  // not signed in: it fails, and repairs all the same
  EXPECT_EQ(snapshot(), installed);
}

TEST_F(Setup, SettingsThatAreNotJsonAreNeverOverwritten) {
  write_text(settings_file(), "{ \"model\": \"opus\", // a comment\n}\n");
  const TamrikResult result = tamrik({"setup", "--agents", "claude-code"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("settings.json is not a JSON object"), std::string::npos) << result.err;
  EXPECT_EQ(read_text(settings_file()), "{ \"model\": \"opus\", // a comment\n}\n");
  EXPECT_TRUE(fs::exists(hook_file()));
}

TEST_F(Setup, ACommitNeverFailsWhenTamrikCannotRunAndIsCaughtUpLater) {
  set_up_repository();
  std::string hook = read_text(hook_file());
  const std::string program = tamrik_binary().string();
  for (size_t at = hook.find(program); at != std::string::npos; at = hook.find(program)) {
    hook.replace(at, program.size(), "/nonexistent/tamrik");
  }
  write_text(hook_file(), hook);

  write_text(repo_.root() / "x.txt", "x\n");
  repo_.git({"add", "x.txt"});
  const CommandResult commit = run_command({"git", "commit", "-q", "-m", "feat: missed"}, repo_.root());
  EXPECT_EQ(commit.exit_code, 0);
  EXPECT_EQ(commit.out, "");
  EXPECT_EQ(records_of(repo_.head()), 0u);

  const TamrikResult start = tamrik({"hook", "session-start"});
  EXPECT_EQ(start.exit_code, 0);
  EXPECT_EQ(records_of(repo_.head()), 1u);
}

TEST_F(Setup, AgentsAndProjectIdsAreChecked) {
  TamrikResult result = tamrik({"setup", "--agents", "claude-code,bogus"});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_NE(result.err.find("unknown agent 'bogus'"), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(tamrik_dir()));

  EXPECT_EQ(tamrik({"setup", "project", "abc"}).exit_code, 2);
  EXPECT_EQ(tamrik({"setup", "--uninstall", "--agents", "codex"}).exit_code, 2);

  result = tamrik({"setup", "--agents", "Claude Code", "project", "42"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string config = read_text(tamrik_dir() / ".platform" / "config.yaml");
  EXPECT_NE(config.find("project_id: 42\n"), std::string::npos) << config;
  EXPECT_NE(config.find("  - claude-code\n"), std::string::npos) << config;
}

}  // namespace
}  // namespace tamrik::testing

namespace tamrik::testing {
namespace {

// A .tamrik/ that arrived with a clone makes nothing happen: only a setup
// run here lists the repository, and a committed configuration is reported,
// never trusted. A setup of an earlier version joins the list on its own.
TEST_F(Setup, OnlyARepositoryThisUserSetUpIsActedIn) {
  write_text(tamrik_dir() / ".platform" / "config.yaml", "installed_at: \"2000-01-01T00:00:00Z\"\n");
  repo_.git({"add", "-f", ".tamrik"});
  repo_.commit("docs: brought along");
  const ordered_json payload = {{"session_id", "s"}, {"source", "startup"}, {"cwd", repo_.root().string()}};

  EXPECT_EQ(tamrik({"hook", "session-start", "--agent", "claude-code"}, payload.dump()).out, "");
  EXPECT_FALSE(fs::exists(tamrik_dir() / "log.jsonl"));
  const ordered_json status = ordered_json::parse(tamrik({"status", "--json"}).out);
  EXPECT_FALSE(status["set_up"]);
  EXPECT_EQ(status["committed_files"], ordered_json::array({".tamrik/.platform/config.yaml"}));
  const TamrikResult sync = tamrik({"sync"});
  EXPECT_EQ(sync.exit_code, 1);
  EXPECT_NE(sync.err.find("run `tamrik setup` first"), std::string::npos) << sync.err;

  const TamrikResult setup = tamrik({"setup", "--agents", "claude-code"});
  ASSERT_EQ(setup.exit_code, 0) << setup.err;
  EXPECT_NE((setup.out + setup.err).find("git rm -r --cached .tamrik"), std::string::npos);
  EXPECT_EQ(read_text(tamrik_dir() / ".platform" / "config.yaml").find("2000-01-01"), std::string::npos);
  const fs::path list = home_.path() / ".config" / "tamrik" / "repositories";
  EXPECT_EQ(read_text(list), fs::canonical(repo_.root()).string() + "\n");

  fs::remove(list);  // as before the list existed: the hook in .git/hooks proves the setup
  EXPECT_TRUE(ordered_json::parse(tamrik({"status", "--json"}).out)["set_up"]);
  EXPECT_EQ(read_text(list), fs::canonical(repo_.root()).string() + "\n");

  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_EQ(read_text(list), "");
}

}  // namespace
}  // namespace tamrik::testing
