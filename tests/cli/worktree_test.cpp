// Linked worktrees (`git worktree add`): every checkout of a repository
// records into the one ledger of its main working tree, each commit once,
// with its own worktree's branch; a worktree removed takes no record with
// it; a bare repository's worktrees are refused with what to do.

#include "cli_fixture.hpp"

#include <thread>

namespace tamrik::testing {
namespace {

class Worktrees : public CliTest {
 protected:
  fs::path add_worktree(const std::string& branch, const std::string& start = "HEAD") {
    const fs::path where = elsewhere_.path() / branch;
    repo_.git({"worktree", "add", "-q", "-b", branch, where.string(), start});
    return where;
  }

  static std::string git_in(const fs::path& tree, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"git", "-C", tree.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandResult result = run_command(argv);
    EXPECT_EQ(result.exit_code, 0) << result.out;
    return lines_of(result.out).empty() ? "" : lines_of(result.out).front();
  }

  // A commit in `tree`, through its hooks unless `hooks` is false.
  static std::string commit_in(const fs::path& tree, const std::string& subject, bool hooks = true) {
    write_text(tree / (subject + ".txt"), subject + "\n");
    git_in(tree, {"add", "--", subject + ".txt"});
    if (hooks) {
      git_in(tree, {"commit", "-q", "-m", subject});
    } else {
      git_in(tree, {"-c", "core.hooksPath=/dev/null", "commit", "-q", "-m", subject});
    }
    return git_in(tree, {"rev-parse", "HEAD"});
  }

  ordered_json status_in(const fs::path& tree) {
    const TamrikResult result = tamrik({"status", "--json"}, "", tree);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return ordered_json::parse(result.out);
  }

  std::string branch_of(const std::string& commit) const {
    for (const ordered_json& entry : ledger()) {
      if (entry.value("commit", "") == commit) return entry.value("branch", "");
    }
    return "";
  }

  TempDir elsewhere_;
};

TEST_F(Worktrees, SetUpFromAWorktreeTwoWorktreesCommittingAtOnceFillOneLedger) {
  const fs::path a = add_worktree("feat/a");
  const fs::path b = add_worktree("fix/b");
  const TamrikResult setup = tamrik({"setup", "--agents", "claude-code"}, "", a);
  ASSERT_EQ(setup.exit_code, 0) << setup.out << setup.err;
  EXPECT_FALSE(fs::exists(a / ".tamrik"));
  EXPECT_TRUE(fs::exists(tamrik_dir() / ".platform/config.yaml"));
  EXPECT_NE(read_text(home_.path() / ".config/tamrik/repositories").find(fs::canonical(repo_.root()).string()),
            std::string::npos);

  constexpr int kEach = 4;
  std::vector<std::string> made_a;
  std::vector<std::string> made_b;
  std::thread in_a([&] {
    for (int i = 0; i < kEach; ++i) made_a.push_back(commit_in(a, "a" + std::to_string(i)));
  });
  for (int i = 0; i < kEach; ++i) made_b.push_back(commit_in(b, "b" + std::to_string(i)));
  in_a.join();

  EXPECT_EQ(ledger().size(), 2u * kEach);
  for (const std::string& commit : made_a) {
    EXPECT_EQ(records_of(commit), 1u) << commit;
    EXPECT_EQ(branch_of(commit), "feat/a");
  }
  for (const std::string& commit : made_b) {
    EXPECT_EQ(records_of(commit), 1u) << commit;
    EXPECT_EQ(branch_of(commit), "fix/b");
  }
  const ordered_json from_main = status_in(repo_.root());
  for (const fs::path& tree : {a, b}) {
    const ordered_json here = status_in(tree);
    EXPECT_EQ(here["repo_root"], from_main["repo_root"]);
    EXPECT_EQ(here["ledger"], from_main["ledger"]);
    EXPECT_EQ(here["set_up"], true);
    EXPECT_EQ(here["hooks"]["post_commit"], true);
  }
  EXPECT_EQ(from_main["ledger"]["pending"], 2 * kEach);
}

TEST_F(Worktrees, ARemovedWorktreeLosesNoRecordAndNothingIsRecordedTwice) {
  set_up_repository();
  const fs::path a = add_worktree("feat/a");
  const std::string seen = commit_in(a, "seen");
  const std::string missed = commit_in(a, "missed", false);
  // The session start in the worktree walks its own HEAD.
  const ordered_json payload = {{"session_id", "s"}, {"source", "startup"}, {"cwd", a.string()}};
  ASSERT_EQ(tamrik({"hook", "session-start", "--agent", "claude-code"}, payload.dump(), a).exit_code, 0);
  EXPECT_EQ(records_of(missed), 1u);
  EXPECT_EQ(branch_of(missed), "feat/a");

  // A second worktree at the same commit finds nothing left to record.
  const fs::path b = add_worktree("feat/b", "feat/a");
  const ordered_json in_b = {{"session_id", "s"}, {"source", "startup"}, {"cwd", b.string()}};
  ASSERT_EQ(tamrik({"hook", "session-start", "--agent", "claude-code"}, in_b.dump(), b).exit_code, 0);

  git_in(repo_.root(), {"worktree", "remove", "--force", a.string()});
  git_in(repo_.root(), {"worktree", "remove", "--force", b.string()});
  git_in(repo_.root(), {"merge", "-q", "--no-ff", "-m", "merge feat/a", "feat/a"});
  const std::string merge = repo_.head();
  ASSERT_EQ(
      tamrik({"hook", "session-start", "--agent", "claude-code"}, ordered_json{{"cwd", repo_.root().string()}}.dump())
          .exit_code,
      0);

  EXPECT_EQ(ledger().size(), 3u);
  for (const std::string& commit : {seen, missed, merge}) EXPECT_EQ(records_of(commit), 1u) << commit;
  EXPECT_EQ(status_in(repo_.root())["ledger"]["pending"], 3);
}

TEST_F(Worktrees, ABareRepositorysWorktreeIsRefusedWithWhatToDo) {
  const fs::path bare = elsewhere_.path() / "bare.git";
  const fs::path tree = elsewhere_.path() / "tree";
  git_in(elsewhere_.path(), {"clone", "-q", "--bare", repo_.root().string(), bare.string()});
  git_in(bare, {"worktree", "add", "-q", tree.string()});

  const TamrikResult setup = tamrik({"setup", "--agents", "claude-code"}, "", tree);
  EXPECT_EQ(setup.exit_code, 1);
  EXPECT_NE(setup.err.find("bare repository"), std::string::npos) << setup.err;
  EXPECT_NE(setup.err.find("git clone"), std::string::npos) << setup.err;
  EXPECT_EQ(tamrik({"status"}, "", tree).exit_code, 1);

  // Hooks stay silent there and write nothing.
  commit_in(tree, "work");
  EXPECT_EQ(tamrik({"sync", "--record-commit"}, "", tree).exit_code, 0);
  const ordered_json payload = {{"cwd", tree.string()}};
  const TamrikResult start = tamrik({"hook", "session-start", "--agent", "claude-code"}, payload.dump(), tree);
  EXPECT_EQ(start.exit_code, 0);
  EXPECT_EQ(start.out, "");
  EXPECT_FALSE(fs::exists(tree / ".tamrik"));
  EXPECT_FALSE(fs::exists(bare / ".tamrik"));
}

}  // namespace
}  // namespace tamrik::testing
