// The pieces of the agent hook path: which commands count as `git commit`,
// when a tool call failed, where the repository is, whether HEAD is fresh,
// and the nudge marker that lets the nudge come exactly once.

#include "attest/hook.hpp"
#include "attest/nudge.hpp"

#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>
#include <vector>

namespace tamrik::attest {
namespace {

using testing::GitRepo;
using testing::TempDir;
using testing::write_text;

TEST(GitCommitPattern, MatchesWhatTheRegularExpressionMatches) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"git commit -m x", true},
      {"git  commit --amend", true},
      {"cd sub && git commit", true},
      {"git-commit", true},
      {"git -C repo commit", true},
      {"echo git; commit", true},
      {"gitcommit", false},
      {"git commits", false},
      {"GIT COMMIT", false},
      {"git\ncommit", false},
      {"git status\ngit commit -q", true},
      {"commit git", false},
      {"git_commit", false},
      {"mygit commit", false},
      {"", false},
  };
  const std::regex pattern{std::string(_GIT_COMMIT_RE)};
  for (const auto& [command, expected] : cases) {
    EXPECT_EQ(_is_git_commit(command), expected) << command;
    EXPECT_EQ(std::regex_search(command, pattern), expected) << "the pattern itself disagrees on: " << command;
  }
}

TEST(GitCommitPattern, WordBoundariesFollowUnicodeText) {
  // std::regex knows only ASCII word characters, so these are checked alone:
  // punctuation beyond ASCII is a boundary, a letter of any script is not.
  const std::vector<std::pair<std::string, bool>> cases = {
      {"git commit\u2014amend", true}, {"\u00abgit commit\u00bb", true},
      {"git\u00a0commit", true},       {"git commit\u00e9", false},
      {"\u00e9git commit", false},     {"git commit\u0661", false},  // an Arabic-Indic digit
  };
  for (const auto& [command, expected] : cases) EXPECT_EQ(_is_git_commit(command), expected) << command;
}

TEST(GitCommitPattern, ALongCommandIsScannedWithoutRecursion) {
  std::string heredoc = "cat > big.txt <<'EOF'\n" + std::string(8 << 20, 'g') + "\nEOF\n";
  EXPECT_FALSE(_is_git_commit(heredoc));
  heredoc += "git commit -am 'big file'";
  EXPECT_TRUE(_is_git_commit(heredoc));
}

TEST(GitCommitPayloadFilter, DropsOnlyPayloadsThatCannotBeACommit) {
  for (const std::string_view passes : {
           R"({"tool_name":"Bash","tool_input":{"command":"git commit -m x"}})",
           R"({"tool_name":"\u0042ash","tool_input":{"command":"git commit"}})",
           R"({"tool_name":"Bash","tool_input":{"command":"git co\u006dmit"}})",
       }) {
    EXPECT_TRUE(_may_be_git_commit_payload(passes)) << passes;
  }
  for (const std::string_view dropped : {
           R"({"tool_name":"Read","tool_input":{"file_path":"commit.txt"},"tool_response":"git"})",
           R"({"tool_name":"Bash","tool_input":{"command":"git status"}})",
           R"({"tool_name":"Bash","tool_input":{"command":"make commit"}})",
       }) {
    EXPECT_FALSE(_may_be_git_commit_payload(dropped)) << dropped;
  }
}

TEST(ToolFailed, ReadsInterruptedAndEitherExitCodeStrictly) {
  const std::vector<std::pair<Json, bool>> cases = {
      {Json::object(), false},
      {{{"tool_response", "Error: exit 1"}}, false},
      {{{"tool_response", {{"interrupted", true}}}}, true},
      {{{"tool_response", {{"interrupted", 1}}}}, false},
      {{{"tool_response", {{"exit_code", 1}}}}, true},
      {{{"tool_response", {{"exitCode", 2}}}}, true},
      {{{"tool_response", {{"exitCode", 0}}}}, false},
      {{{"tool_response", {{"exit_code", "1"}}}}, false},
      {{{"tool_response", {{"exit_code", true}}}}, false},
      {{{"tool_response", {{"exit_code", 0}, {"exitCode", 1}}}}, true},
  };
  for (const auto& [payload, failed] : cases) EXPECT_EQ(_tool_failed(payload), failed) << payload.dump();
}

TEST(RepoRootFor, FindsTheNearestGitEntryDirectoryOrFile) {
  const TempDir dir;
  std::filesystem::create_directories(dir / "repo/.git");
  std::filesystem::create_directories(dir / "repo/worktree/src/deep");
  write_text(dir / "repo/worktree/.git", "gitdir: ../.git/worktrees/w\n");
  EXPECT_EQ(_repo_root_for(dir / "repo/worktree/src/deep"), dir / "repo/worktree");
  EXPECT_EQ(_repo_root_for(dir / "repo"), dir / "repo");
  std::filesystem::create_directories(dir / "plain");
  EXPECT_EQ(_repo_root_for(dir / "plain"), std::nullopt);
  // A payload's cwd of 20,000 parts under the repository is not walked.
  std::string deep = (dir / "repo").string();
  for (int i = 0; i < 20'000; ++i) deep += "/a";
  EXPECT_EQ(_repo_root_for(deep), std::nullopt);
}

TEST(HeadIsFresh, BoundsAreInclusiveAndTheFutureIsNotFresh) {
  GitRepo repo;
  repo.commit("feat: x");
  const double committed = std::stod(repo.git({"log", "-1", "--format=%ct"}));
  EXPECT_TRUE(_head_is_fresh(repo.root(), committed));
  EXPECT_TRUE(_head_is_fresh(repo.root(), committed + _FRESH_HEAD_SECONDS));
  EXPECT_FALSE(_head_is_fresh(repo.root(), committed + _FRESH_HEAD_SECONDS + 1));
  EXPECT_FALSE(_head_is_fresh(repo.root(), committed - 1));
  EXPECT_TRUE(_head_is_fresh(repo.root()));

  const GitRepo empty;
  EXPECT_FALSE(_head_is_fresh(empty.root()));
}

TEST(Nudge, TheMessageNamesTheShortHashTwice) {
  EXPECT_EQ(_nudge_message("0123456789abcdef0123456789abcdef01234567"),
            "tamrik recorded commit 0123456 without an attestation. Write .tamrik/.commit-attestation.yaml for it "
            "(format: `tamrik attest --example`), then run `tamrik attest add --commit 0123456` to attach it. Skip "
            "if this commit was intentionally unattested.");
}

TEST(UnattestedHeadMarker, OnlyOneClaimForTheMarkedCommitSucceeds) {
  const TempDir repo;
  const std::string commit(40, 'a');
  EXPECT_FALSE(claim_unattested_head(repo.path(), commit));
  std::filesystem::create_directories(repo / ".tamrik");
  mark_unattested_head(repo.path(), commit, NudgeReason::mismatched);
  EXPECT_EQ(claim_unattested_head(repo.path(), commit), NudgeReason::mismatched);
  mark_unattested_head(repo.path(), commit);
  EXPECT_FALSE(claim_unattested_head(repo.path(), std::string(40, 'b')));

  std::vector<std::thread> claimers;
  std::atomic<int> won{0};
  for (int i = 0; i < 8; ++i) {
    claimers.emplace_back([&] { won += claim_unattested_head(repo.path(), commit) ? 1 : 0; });
  }
  for (std::thread& t : claimers) t.join();
  EXPECT_EQ(won, 1);

  mark_unattested_head(repo.path(), commit);
  clear_unattested_head(repo.path());
  EXPECT_FALSE(claim_unattested_head(repo.path(), commit));
}

}  // namespace
}  // namespace tamrik::attest
