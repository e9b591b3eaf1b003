// _resolve_full_sha_on_branch asks git for a commit's hash and the branch in
// one child. Wherever either question has no answer it must give exactly
// what the two separate lookups give.

#include "synccore/git.hpp"

#include "support/test_env.hpp"

#include <gtest/gtest.h>

namespace tamrik::synccore {
namespace {

using testing::GitRepo;
using testing::write_text;

// What the separate lookups answer, for comparison.
std::optional<CommitOnBranch> asked_apart(const path& root, const std::string& commit) {
  const std::optional<std::string> full = _resolve_full_sha(root, commit);
  if (!full) return std::nullopt;
  return CommitOnBranch{.full = *full, .branch = _git_rev_parse({"--abbrev-ref", "HEAD"}, root)};
}

void expect_same_as_apart(const GitRepo& repo, const std::string& commit) {
  const std::optional<CommitOnBranch> together = _resolve_full_sha_on_branch(repo.root(), commit);
  const std::optional<CommitOnBranch> apart = asked_apart(repo.root(), commit);
  ASSERT_EQ(together.has_value(), apart.has_value()) << commit;
  if (!together) return;
  EXPECT_EQ(together->full, apart->full) << commit;
  EXPECT_EQ(together->branch, apart->branch) << commit;
}

TEST(CommitOnBranch, NamesTheCommitAndTheBranchCheckedOut) {
  GitRepo repo;
  const std::string first = repo.commit("feat: first");
  repo.git({"tag", "-a", "-m", "release", "v1"});
  repo.git({"checkout", "-q", "-b", "fix/login"});
  const std::string second = repo.commit("fix: second");

  const std::optional<CommitOnBranch> head = _resolve_full_sha_on_branch(repo.root(), "HEAD");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->full, second);
  EXPECT_EQ(head->branch, "fix/login");

  // Any name git takes: an abbreviation, a branch, an annotated tag (peeled).
  for (const std::string& name : {first.substr(0, 8), std::string("main"), std::string("v1")}) {
    const std::optional<CommitOnBranch> found = _resolve_full_sha_on_branch(repo.root(), name);
    ASSERT_TRUE(found) << name;
    EXPECT_EQ(found->full, first) << name;
    EXPECT_EQ(found->branch, "fix/login") << name;
  }

  repo.git({"checkout", "-q", "--detach"});
  EXPECT_EQ(_resolve_full_sha_on_branch(repo.root(), "HEAD")->branch, "HEAD");
}

TEST(CommitOnBranch, NamesTheParentsInOrder) {
  GitRepo repo;
  const std::string root = repo.commit("root");
  EXPECT_TRUE(_resolve_full_sha_on_branch(repo.root(), "HEAD")->parents.empty());

  repo.git({"checkout", "-q", "-b", "side"});
  const std::string side = repo.commit("side", "side.txt");
  repo.git({"checkout", "-q", "main"});
  const std::string mainline = repo.commit("mainline", "main.txt");
  repo.git({"merge", "-q", "--no-ff", "-m", "merge side", "side"});
  const std::optional<CommitOnBranch> merge = _resolve_full_sha_on_branch(repo.root(), "HEAD");
  ASSERT_TRUE(merge);
  EXPECT_EQ(merge->parents, (std::vector<std::string>{mainline, side}));
  EXPECT_EQ(merge->branch, "main");
  EXPECT_EQ(_resolve_full_sha_on_branch(repo.root(), side)->parents, (std::vector<std::string>{root}));
}

TEST(CommitOnBranch, WhereOneQuestionHasNoAnswerItMatchesTheSeparateLookups) {
  GitRepo repo;
  expect_same_as_apart(repo, "HEAD");  // no commit yet
  const std::string first = repo.commit("feat: first");

  // Not commits, or not revisions at all, including words rev-parse would
  // take as its own options and a file named like the argument it is given.
  write_text(repo.root() / "nope^{commit}", "a path, not a revision\n");
  for (const char* name : {"nope", "HEAD^{tree}", "--all", "--show-toplevel", "", "HEAD HEAD"}) {
    EXPECT_EQ(_resolve_full_sha_on_branch(repo.root(), name), std::nullopt) << name;
    expect_same_as_apart(repo, name);
  }

  // An unborn branch: the commit still resolves, the branch has no answer.
  repo.git({"checkout", "-q", "--orphan", "fresh"});
  const std::optional<CommitOnBranch> found = _resolve_full_sha_on_branch(repo.root(), first);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->full, first);
  EXPECT_EQ(found->branch, "unknown");
  expect_same_as_apart(repo, first);
}

}  // namespace
}  // namespace tamrik::synccore
