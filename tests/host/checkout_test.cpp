// A checkout's home from git's worktree files, with real git: a linked
// worktree leads to its main working tree only when the main repository's
// own git directory vouches for it.

#include "host/services/checkout.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>

namespace tamrik::services {
namespace {

using testing::GitRepo;
using testing::TempDir;
using testing::write_text;

TEST(Checkout, ALinkedWorktreeHasTheMainWorkingTreeAsItsHome) {
  GitRepo repo;
  repo.commit("base");
  const TempDir elsewhere;
  const path tree = elsewhere / "tree";
  repo.git({"worktree", "add", "-q", "-b", "topic", tree.string()});
  const path main = std::filesystem::canonical(repo.root());

  EXPECT_EQ(home_of(repo.root()), repo.root());
  EXPECT_EQ(home_of(tree), main);
  EXPECT_EQ(checkout_at(tree)->work_tree, tree);

  // A repository whose git directory lives elsewhere is its own home.
  const TempDir separate;
  testing::run_command(
      {"git", "init", "-q", "--separate-git-dir", (separate / "git").string(), (separate / "work").string()});
  EXPECT_EQ(home_of(separate / "work"), separate / "work");
}

TEST(Checkout, AWorktreeItsRepositoryDoesNotNameGetsNoHome) {
  GitRepo repo;
  repo.commit("base");
  const TempDir elsewhere;
  repo.git({"worktree", "add", "-q", "-b", "topic", (elsewhere / "tree").string()});

  // A .git file unpacked anywhere, naming the real worktree's git directory.
  std::filesystem::create_directories(elsewhere / "forged");
  write_text(elsewhere / "forged/.git", "gitdir: " + (repo.root() / ".git/worktrees/tree").string() + "\n");
  EXPECT_THROW(home_of(elsewhere / "forged"), NoRepositoryHomeError);
  EXPECT_FALSE(checkout_at(elsewhere / "forged").has_value());

  // Nor one naming a directory outside the repository's worktrees.
  std::filesystem::create_directories(elsewhere / "fake-git");
  write_text(elsewhere / "fake-git/commondir", (repo.root() / ".git").string() + "\n");
  write_text(elsewhere / "fake-git/gitdir", (elsewhere / "stray/.git").string() + "\n");
  std::filesystem::create_directories(elsewhere / "stray");
  write_text(elsewhere / "stray/.git", "gitdir: " + (elsewhere / "fake-git").string() + "\n");
  EXPECT_THROW(home_of(elsewhere / "stray"), NoRepositoryHomeError);

  // A worktree moved by hand is told how to repair it.
  std::filesystem::rename(elsewhere / "tree", elsewhere / "moved");
  try {
    home_of(elsewhere / "moved");
    ADD_FAILURE() << "a moved worktree got a home";
  } catch (const NoRepositoryHomeError& e) {
    EXPECT_NE(std::string(e.what()).find("git worktree repair"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace tamrik::services
