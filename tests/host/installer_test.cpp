// What setup writes into files it shares with the user: the marked blocks,
// the shell words of hook commands, the agents' hook rows and the
// post-commit hook. Each must come out again leaving the user's content as
// it was, and must refuse files it cannot safely edit.

#include "core/errors.hpp"
#include "core/json.hpp"
#include "host/hooks/agent_hooks.hpp"
#include "host/hooks/git_hook.hpp"
#include "host/hooks/installer.hpp"
#include "host/hooks/shell_words.hpp"
#include "host/services/gitignore.hpp"
#include "host/utils/marked_block.hpp"

#include "support/test_env.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <tuple>

namespace tamrik::hooks::installer {
namespace {

using core::Json;
namespace fs = std::filesystem;
using testing::GitRepo;
using testing::read_text;
using testing::TempDir;
using testing::write_text;
namespace block = utils::marked_block;

constexpr block::Markers kMarkers{"# >>> t >>>", "# <<< t <<<"};

TEST(MarkedBlock, AddedThenRemovedGivesTheTextBack) {
  for (const std::string text : {"", "#!/bin/sh\n", "#!/bin/sh\necho hi\nexit 0\n", "no shebang\n", "a\r\nb\r\n"}) {
    for (const auto placement : {block::Placement::end, block::Placement::after_shebang}) {
      const std::string with = block::with_block(text, kMarkers, "line\n", placement);
      EXPECT_TRUE(block::find_block(with, kMarkers).has_value());
      EXPECT_EQ(block::without_block(with, kMarkers), text);
    }
  }
  EXPECT_EQ(block::with_block("#!/bin/sh\nexit 0\n", kMarkers, "x\n", block::Placement::after_shebang),
            "#!/bin/sh\n# >>> t >>>\nx\n# <<< t <<<\nexit 0\n");
  EXPECT_EQ(block::with_block("last", kMarkers, "x\n", block::Placement::end), "last\n# >>> t >>>\nx\n# <<< t <<<\n");
}

TEST(MarkedBlock, AnExistingBlockIsReplacedWhereItStands) {
  const std::string text = "top\n# >>> t >>>\nold\n# <<< t <<<\nbottom\n";
  EXPECT_EQ(block::with_block(text, kMarkers, "new\n", block::Placement::end),
            "top\n# >>> t >>>\nnew\n# <<< t <<<\nbottom\n");
  // A begin marker without its end is not a block: nothing is taken out.
  EXPECT_EQ(block::without_block("# >>> t >>>\nuser line\n", kMarkers), "# >>> t >>>\nuser line\n");
}

TEST(ShellWords, QuotedWordsSplitBackToThemselves) {
  for (const std::string word : {"/usr/bin/tamrik", "/home/a b/tamrik", "it's", "$HOME/x", "", "a\"b"}) {
    EXPECT_EQ(split_words(shell_quote(word) + " sync --record-commit"),
              (std::vector<std::string>{word, "sync", "--record-commit"}))
        << word;
  }
  EXPECT_EQ(shell_quote("/opt/tamrik/bin/tamrik"), "/opt/tamrik/bin/tamrik");
  EXPECT_EQ(split_words(R"("a \"q\"" b\ c)"), (std::vector<std::string>{"a \"q\"", "b c"}));
}

class HookRows : public ::testing::Test {
 protected:
  fs::path file() const { return dir_ / "settings.json"; }
  Json settings() const { return Json::parse(read_text(file())); }
  static std::span<const HookRow> rows_of(std::string_view agent) { return agent_hooks(agent)->rows; }
  TempDir dir_;
};

TEST_F(HookRows, AMovedProgramIsUpdatedInPlaceNotAddedTwice) {
  const auto rows = rows_of("claude-code");
  const Json user_row = {{"matcher", "Bash"}, {"hooks", {{{"type", "command"}, {"command", "audit-log"}}}}};
  write_text(file(), Json{{"hooks", {{"PostToolUse", {user_row}}}}}.dump(2));
  EXPECT_TRUE(install_hook_rows(file(), rows, "/old place/tamrik"));
  EXPECT_FALSE(install_hook_rows(file(), rows, "/old place/tamrik"));
  EXPECT_TRUE(install_hook_rows(file(), rows, "/usr/local/bin/tamrik"));

  const Json groups = settings()["hooks"]["PostToolUse"];
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0], user_row);
  EXPECT_EQ(groups[1]["hooks"][0]["command"], "/usr/local/bin/tamrik attest add --from-hook --agent claude-code");
  EXPECT_EQ(groups[1]["hooks"][0]["if"], "Bash(git *)");
  EXPECT_EQ(settings()["hooks"]["SessionStart"].size(), 1u);
  EXPECT_TRUE(hook_rows_installed(file(), rows));

  EXPECT_TRUE(uninstall_hook_rows(file(), rows));
  EXPECT_EQ(settings(), (Json{{"hooks", {{"PostToolUse", {user_row}}}}}));
  EXPECT_FALSE(hook_rows_installed(file(), rows));
  EXPECT_FALSE(uninstall_hook_rows(file(), rows));
}

// Codex's rows differ from Claude Code's in the `--agent`, the missing `if`
// and the session sources; in one file each set is found and removed alone.
TEST_F(HookRows, CodexRowsAreTheirOwnAndLeaveClaudeCodesAlone) {
  EXPECT_TRUE(install_hook_rows(file(), rows_of("claude-code"), "/bin/tamrik"));
  EXPECT_TRUE(install_hook_rows(file(), rows_of("codex"), "/bin/tamrik"));
  const Json with_both = settings();
  ASSERT_EQ(with_both["hooks"]["PostToolUse"].size(), 2u);
  const Json codex_post = with_both["hooks"]["PostToolUse"][1];
  EXPECT_EQ(codex_post["matcher"], "Bash");
  EXPECT_EQ(
      codex_post["hooks"][0],
      (Json{{"type", "command"}, {"command", "/bin/tamrik attest add --from-hook --agent codex"}, {"timeout", 30}}));
  const Json codex_start = with_both["hooks"]["SessionStart"][1];
  EXPECT_EQ(codex_start["matcher"], "startup|resume|clear|compact");
  EXPECT_EQ(codex_start["hooks"][0]["command"], "/bin/tamrik hook session-start --agent codex");

  EXPECT_TRUE(uninstall_hook_rows(file(), rows_of("codex")));
  EXPECT_TRUE(hook_rows_installed(file(), rows_of("claude-code")));
  EXPECT_FALSE(hook_rows_installed(file(), rows_of("codex")));
  EXPECT_EQ(settings()["hooks"]["PostToolUse"].size(), 1u);
}

TEST_F(HookRows, AFileItCannotReadAsSettingsIsLeftAlone) {
  for (const std::string text : {"[]", "{\"hooks\": []}", "{\"hooks\": {\"PostToolUse\": {}}}", "{oops"}) {
    write_text(file(), text);
    EXPECT_THROW(install_hook_rows(file(), rows_of("codex"), "/bin/tamrik"), SettingsFormatError) << text;
    EXPECT_EQ(read_text(file()), text);
  }
}

TEST_F(HookRows, KeepsTheFilesPermissions) {
  write_text(file(), "{}");
  ::chmod(file().c_str(), 0640);
  install_hook_rows(file(), rows_of("claude-code"), "/bin/tamrik");
  struct stat st {};
  ASSERT_EQ(::stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(AgentHooks, EachHarnessHasItsFileWhereItsVariableOrHomePoints) {
  const TempDir elsewhere;
  ::setenv("CODEX_HOME", elsewhere.path().c_str(), 1);
  EXPECT_EQ(agent_hooks("codex")->file, elsewhere / "hooks.json");
  ::unsetenv("CODEX_HOME");
  EXPECT_EQ(agent_hooks("codex")->file, testing::test_home() / ".codex" / "hooks.json");
  EXPECT_EQ(agent_hooks("claude-code")->file, testing::test_home() / ".claude" / "settings.json");
  EXPECT_FALSE(agent_hooks("gemini-cli").has_value());
}

class GitHooks : public ::testing::Test {
 protected:
  fs::path hook(GitHook which) const { return repo_.root() / ".git/hooks" / git_hook_name(which); }
  void write_hook(GitHook which, const std::string& text, fs::perms perms = fs::perms::owner_all) {
    write_text(hook(which), text);
    fs::permissions(hook(which), perms);
  }
  GitRepo repo_;
};

TEST_F(GitHooks, ANewHookIsAnExecutableShellScriptRemovedWhole) {
  for (const auto& [which, begin, call] :
       {std::tuple{GitHook::post_commit, "# >>> tamrik: record commits >>>", "sync --record-commit"},
        std::tuple{GitHook::post_rewrite, "# >>> tamrik: carry attestations of rewritten commits >>>",
                   "sync --record-rewrite \"$1\""}}) {
    EXPECT_TRUE(install_git_hook(repo_.root(), which, "/opt/it's/tamrik"));
    const std::string text = read_text(hook(which));
    EXPECT_TRUE(text.starts_with("#!/bin/sh\n" + std::string(begin) + "\n")) << text;
    EXPECT_NE(text.find("'/opt/it'\\''s/tamrik' " + std::string(call)), std::string::npos) << text;
    EXPECT_TRUE(git_hook_installed(repo_.root(), which));
    EXPECT_EQ(testing::run_command({"sh", "-n", hook(which).string()}).exit_code, 0);

    EXPECT_TRUE(uninstall_git_hook(repo_.root(), which));
    EXPECT_FALSE(fs::exists(hook(which)));
  }
}

TEST_F(GitHooks, ShellsByAnyNameTakeTheBlockOtherLanguagesDoNot) {
  for (const GitHook which : kGitHooks) {
    for (const std::string shebang : {"#!/bin/bash -e", "#!/usr/bin/env zsh", "#!/usr/bin/env -S bash -e"}) {
      write_hook(which, shebang + "\necho user\n");
      EXPECT_TRUE(install_git_hook(repo_.root(), which, "/bin/tamrik")) << shebang;
      EXPECT_TRUE(uninstall_git_hook(repo_.root(), which));
      EXPECT_EQ(read_text(hook(which)), shebang + "\necho user\n");
    }
    write_hook(which, "#!/usr/bin/env node\nconsole.log(1)\n");
    EXPECT_THROW(install_git_hook(repo_.root(), which, "/bin/tamrik"), UnusableHookError);
    write_hook(which, "#!/bin/sh\necho switched off\n", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_THROW(install_git_hook(repo_.root(), which, "/bin/tamrik"), UnusableHookError);
    EXPECT_EQ(read_text(hook(which)), "#!/bin/sh\necho switched off\n");
  }
}

TEST(Gitignore, EntriesGoToInfoExcludeAndStayWhileTheirDirectoryDoes) {
  namespace shared = services::shared;
  const testing::GitRepo repo;
  const fs::path exclude = repo.root() / ".git" / "info" / "exclude";
  const auto text = [&] { return fs::exists(exclude) ? read_text(exclude) : std::string("(none)"); };
  const std::string before = text();
  EXPECT_TRUE(shared::ensure_gitignore(repo.root()));
  EXPECT_FALSE(shared::ensure_gitignore(repo.root()));
  EXPECT_TRUE(shared::has_gitignore_entries(repo.root()));
  EXPECT_FALSE(fs::exists(repo.root() / ".gitignore"));
  const std::string_view skills = shared::SKILLS_INSTALLER_ENTRY;
  EXPECT_TRUE(shared::ensure_gitignore(repo.root(), std::span(&skills, 1)));
  EXPECT_NE(text().find("/.tamrik/\n/agent/skills/\n# <<< tamrik <<<\n"), std::string::npos) << text();

  fs::create_directories(repo.root() / ".tamrik");
  EXPECT_TRUE(shared::remove_gitignore_entries(repo.root()));
  EXPECT_EQ(text().substr(before == "(none)" ? 0 : before.size()),
            "# >>> tamrik: local ledger and cache >>>\n/.tamrik/\n# <<< tamrik <<<\n");
  fs::remove(repo.root() / ".tamrik");
  EXPECT_TRUE(shared::remove_gitignore_entries(repo.root()));
  EXPECT_EQ(text(), before);
}

TEST(Harnesses, AreFoundByTheirDirectoryInHome) {
  const TempDir home;
  const std::string saved_home = std::getenv("HOME");
  const std::string saved_path = std::getenv("PATH");
  ::setenv("HOME", home.path().c_str(), 1);
  ::setenv("PATH", (home / "bin").c_str(), 1);
  fs::create_directories(home / ".codex");
  fs::create_directories(home / ".codeium/windsurf");
  EXPECT_EQ(installed_harnesses(), (std::vector<std::string>{"codex", "windsurf"}));
  ::setenv("HOME", saved_home.c_str(), 1);
  ::setenv("PATH", saved_path.c_str(), 1);
}

}  // namespace
}  // namespace tamrik::hooks::installer
