// `tamrik setup` beside the person's other repositories and tools: per-user
// agent rows that serve every set-up repository, ignore entries that dirty
// no tracked file (and the move of an earlier setup's .gitignore block),
// and the hook managers whose hooks are regenerated or shared with a team.

#include "cli_fixture.hpp"
#include "host/agent_fixtures.hpp"

#include <algorithm>
#include <optional>

namespace tamrik::testing {
namespace {

using agent_fixtures::ScopedEnv;

constexpr const char* kOldBlock =
    "# >>> tamrik: local ledger and cache >>>\n/.tamrik/\n/agent/skills/\n# <<< tamrik <<<\n";

class SetupBeside : public CliTest {
 protected:
  fs::path settings_file() const { return home_.path() / ".claude" / "settings.json"; }
  std::string exclude(const GitRepo& repo) const { return read_text(repo.root() / ".git" / "info" / "exclude"); }
  std::string porcelain(const GitRepo& repo) const {
    return repo.git({"status", "--porcelain", "--untracked-files=all"});
  }
  TamrikResult tamrik_in(const GitRepo& repo, std::vector<std::string> args) {
    return tamrik(std::move(args), "", repo.root());
  }
  // tamrik on PATH, as a shared hook finds it.
  ScopedEnv on_path_{{"PATH", tamrik_binary().parent_path().string() + ":" + std::getenv("PATH")}};
};

TEST_F(SetupBeside, TheAgentRowsGoWithTheLastSetUpRepositoryOnly) {
  GitRepo other;
  other.commit("chore: initial");
  std::optional<GitRepo> deleted(std::in_place);
  deleted->commit("chore: initial");
  for (const GitRepo* repo : {&repo_, &other, &*deleted}) {
    ASSERT_EQ(tamrik_in(*repo, {"setup", "--agents", "claude-code"}).exit_code, 0);
  }
  const std::string rows = read_text(settings_file());
  deleted.reset();  // its line in the list is stale and must not count

  const TamrikResult first = tamrik({"setup", "--uninstall"});
  ASSERT_EQ(first.exit_code, 0) << first.err;
  EXPECT_NE(first.out.find("agent hook rows and Codex's tool server kept: 1 other repository is set up"),
            std::string::npos)
      << first.out;
  EXPECT_EQ(read_text(settings_file()), rows);

  const TamrikResult last = tamrik_in(other, {"setup", "--uninstall"});
  ASSERT_EQ(last.exit_code, 0) << last.err;
  EXPECT_EQ(last.out.find("kept:"), std::string::npos) << last.out;
  EXPECT_FALSE(fs::exists(settings_file())) << "setup created it, the last uninstall took it away";

  for (const GitRepo* repo : {&repo_, &other})
    ASSERT_EQ(tamrik_in(*repo, {"setup", "--agents", "claude-code"}).exit_code, 0);
  const TamrikResult all = tamrik({"setup", "--uninstall", "--all"});
  ASSERT_EQ(all.exit_code, 0) << all.err;
  EXPECT_NE(all.out.find("removed though 1 other repository is set up"), std::string::npos) << all.out;
  EXPECT_FALSE(fs::exists(settings_file()));
  EXPECT_EQ(tamrik({"setup", "--all"}).exit_code, 2) << "--all only goes with --uninstall";
}

TEST_F(SetupBeside, IgnoreEntriesDirtyNothingAndAnEarlierBlockMovesOutOfTheGitignore) {
  // A team's .gitignore and agent/skills; an earlier setup appended its block.
  repo_.commit("chore: ignore", ".gitignore", "/build");
  repo_.commit("docs: our skill", "agent/skills/own.md", "ours\n");
  write_text(repo_.root() / ".gitignore", std::string("/build\n") + kOldBlock);

  const TamrikResult setup = tamrik({"setup", "--agents", "codex"});
  ASSERT_EQ(setup.exit_code, 0) << setup.err;
  EXPECT_NE(setup.out.find("moved from .gitignore to .git/info/exclude"), std::string::npos) << setup.out;
  EXPECT_EQ(read_text(repo_.root() / ".gitignore"), "/build") << "back to the committed bytes";
  EXPECT_NE(exclude(repo_).find("/.tamrik/\n"), std::string::npos);
  EXPECT_EQ(exclude(repo_).find("/agent/skills/"), std::string::npos) << "the repository tracks agent/skills";
  repo_.commit("feat: recorded");
  EXPECT_EQ(records_of(repo_.head()), 1u);
  EXPECT_EQ(porcelain(repo_), "");

  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_EQ(porcelain(repo_), "") << "the ledger stays, and stays ignored";
  EXPECT_NE(exclude(repo_).find("/.tamrik/\n"), std::string::npos);

  // A block the history holds is the team's: it stays, and setup says so.
  GitRepo shared;
  shared.commit("chore: ignore", ".gitignore", std::string("/build\n") + kOldBlock);
  const TamrikResult kept = tamrik_in(shared, {"setup", "--agents", "codex"});
  ASSERT_EQ(kept.exit_code, 0) << kept.err;
  EXPECT_NE(kept.out.find("is in this repository's history, so it stays there"), std::string::npos) << kept.out;
  EXPECT_EQ(porcelain(shared), "");
}

TEST_F(SetupBeside, SharedHooksCallTamrikThroughPathWhereTheirManagerRunsThem) {
  // husky 9: git runs the generated .husky/_/<hook>, which runs .husky/<hook> with sh.
  GitRepo husky;
  husky.commit("chore: initial");
  const std::string stub =
      "#!/bin/sh\nh=\"$(dirname \"$(dirname \"$0\")\")/$(basename \"$0\")\"\n"
      "[ -f \"$h\" ] || exit 0\nexec sh -e \"$h\" \"$@\"\n";
  for (const char* hook : {"post-commit", "post-rewrite"}) {
    write_text(husky.root() / ".husky" / "_" / hook, stub);
    fs::permissions(husky.root() / ".husky" / "_" / hook, fs::perms::owner_all);
  }
  husky.git({"config", "core.hooksPath", ".husky/_"});
  // An earlier setup wrote into the generated stub: that block moves out.
  write_text(husky.root() / ".husky" / "_" / "post-commit",
             "#!/bin/sh\n# >>> tamrik: record commits >>>\n/old/tamrik sync --record-commit\n# <<< tamrik <<<\n" +
                 stub.substr(stub.find('\n') + 1));
  // A tracked .githooks directory with the team's own line.
  const std::string team_hook = "#!/bin/sh\necho team >> \"$(git rev-parse --git-dir)/team.log\"\n";
  write_text(repo_.root() / ".githooks" / "post-commit", team_hook);
  fs::permissions(repo_.root() / ".githooks" / "post-commit", fs::perms::owner_all);
  repo_.git({"add", ".githooks"});
  repo_.git({"commit", "-qm", "chore: team hooks"});
  repo_.git({"config", "core.hooksPath", ".githooks"});

  for (const auto& [repo, hook] :
       {std::pair{&husky, fs::path(".husky/post-commit")}, std::pair{&repo_, fs::path(".githooks/post-commit")}}) {
    const TamrikResult setup = tamrik_in(*repo, {"setup", "--agents", "codex"});
    ASSERT_EQ(setup.exit_code, 0) << setup.out << setup.err;
    const std::string text = read_text(repo->root() / hook);
    EXPECT_NE(text.find("command -v tamrik >/dev/null 2>&1; then tamrik sync --record-commit"), std::string::npos)
        << text;
    EXPECT_EQ(text.find(tamrik_binary().string()), std::string::npos) << "no path into this machine: " << text;
    EXPECT_NE(setup.out.find("they run `tamrik` from PATH"), std::string::npos) << setup.out;
    const std::string head = repo->commit("feat: through the shared hook");
    const std::vector<ordered_json> entries = ledger(repo->root());
    EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                            [&](const ordered_json& e) { return e.value("commit", "") == head; }),
              1)
        << hook;
  }
  EXPECT_EQ(read_text(husky.root() / ".husky" / "_" / "post-commit"), stub) << "husky's generated stub is untouched";
  EXPECT_EQ(read_text(repo_.root() / ".git" / "team.log"), "team\n");

  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_EQ(read_text(repo_.root() / ".githooks" / "post-commit"), team_hook);
  EXPECT_EQ(porcelain(repo_), "");
}

TEST_F(SetupBeside, RegeneratingManagersGetTheLineToAddAndTheirConfigsStayAsTheyAre) {
  for (const auto& [config, text, expected] :
       {std::tuple{"lefthook.yml", "pre-commit:\n  commands: {}\n",
                   "run: command -v tamrik >/dev/null 2>&1 && tamrik sync --record-commit"},
        std::tuple{".pre-commit-config.yaml", "repos: []\n", "stages: [post-commit]"},
        std::tuple{"package.json", "{\"simple-git-hooks\": {\"pre-commit\": \"npm test\"}}\n",
                   "\"post-commit\": \"command -v tamrik"}}) {
    GitRepo repo;
    repo.commit("chore: hooks", config, text);
    const TamrikResult setup = tamrik_in(repo, {"setup", "--agents", "codex"});
    ASSERT_EQ(setup.exit_code, 0) << setup.out << setup.err;
    EXPECT_NE(setup.out.find("manages this repository's git hooks"), std::string::npos) << setup.out;
    EXPECT_NE(setup.out.find(expected), std::string::npos) << config << setup.out;
    EXPECT_EQ(read_text(repo.root() / config), text);
    EXPECT_FALSE(fs::exists(repo.root() / ".git" / "hooks" / "post-commit")) << config;

    write_text(repo.root() / config, text + std::string("# tamrik sync --record-commit\n"));
    EXPECT_NE(tamrik_in(repo, {"setup"}).out.find("post-commit hook: already in place"), std::string::npos) << config;
  }
}

}  // namespace
}  // namespace tamrik::testing
