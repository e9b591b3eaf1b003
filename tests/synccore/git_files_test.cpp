// HEAD and commits read from git's own files must say exactly what git says,
// and leave every case they do not read plainly to git.

#include "synccore/git.hpp"
#include "synccore/git_files.hpp"

#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tamrik::synccore {
namespace {

using testing::GitRepo;
using testing::write_text;

// commit_fields as the git child answers it: any GIT_CONFIG_COUNT keeps the
// files unread.
CommitFields fields_from_git(const path& root, const std::string& full) {
  ::setenv("GIT_CONFIG_COUNT", "0", 1);
  CommitFields fields = commit_fields(root, full);
  ::unsetenv("GIT_CONFIG_COUNT");
  fields.parents = testing::lines_of(_git({"rev-parse", full + "^@"}, root));
  return fields;
}

void expect_same_fields(const CommitFields& files, const CommitFields& git) {
  EXPECT_EQ(files.parents, git.parents);
  EXPECT_EQ(files.author_date, git.author_date);
  EXPECT_EQ(files.author_name, git.author_name);
  EXPECT_EQ(files.author_email, git.author_email);
  EXPECT_EQ(files.committer_name, git.committer_name);
  EXPECT_EQ(files.committer_email, git.committer_email);
  EXPECT_EQ(files.subject, git.subject);
}

void expect_head_as_git_says(const path& root) {
  SCOPED_TRACE(root.string());
  const std::optional<HeadFromFiles> head = read_head_from_files(root);
  ASSERT_TRUE(head.has_value());
  EXPECT_EQ(head->full, _git({"rev-parse", "HEAD"}, root));
  EXPECT_EQ(head->branch, _git({"rev-parse", "--abbrev-ref", "HEAD"}, root));
  EXPECT_EQ(head->git_dir.string(), _git({"rev-parse", "--absolute-git-dir"}, root));
  expect_same_fields(head->fields, fields_from_git(root, head->full));
  const std::optional<CommitFields> commit = read_commit_from_files(root, head->full);
  ASSERT_TRUE(commit.has_value());
  expect_same_fields(*commit, head->fields);
}

void commit_message(const GitRepo& repo, const std::string& message, std::initializer_list<std::string> extra) {
  write_text(repo.root() / "message.txt", message);
  std::vector<std::string> argv{"git",
                                "-c",
                                "user.name=Com Mitter",
                                "-c",
                                "user.email=committer@example.com",
                                "commit",
                                "-q",
                                "--allow-empty",
                                "--cleanup=verbatim",
                                "-F",
                                "message.txt"};
  argv.insert(argv.end(), extra);
  ASSERT_EQ(testing::run_command(argv, repo.root()).exit_code, 0);
}

TEST(GitFiles, AnswerWhatGitAnswersForEveryPlainCommit) {
  GitRepo repo;
  repo.commit("feat: the root commit");
  expect_head_as_git_says(repo.root());

  // Blank lines before the subject, a subject over two lines with trailing
  // blanks, an author of its own in another zone with a byte that is not
  // UTF-8.
  commit_message(repo, "\n  \nfix: a subject   \nover two lines\t\n\nThe body.\n",
                 {"--author=Na\xffme <author@example.com>", "--date=2024-02-29T23:59:59+05:30"});
  expect_head_as_git_says(repo.root());

  // A merge, west of Greenwich, no subject at all.
  repo.git({"checkout", "-q", "-b", "side", "HEAD~1"});
  repo.commit("side work", "side.txt");
  repo.git({"checkout", "-q", "-"});
  repo.git({"merge", "-q", "--no-ff", "--no-commit", "side"});
  commit_message(repo, "", {"--allow-empty-message", "--date=2001-01-01T00:00:00-03:30"});
  expect_head_as_git_says(repo.root());

  // A signed commit: the signature's lines are skipped.
  const std::string tree = repo.git({"rev-parse", "HEAD^{tree}"});
  write_text(repo.root() / "signed.txt",
             "tree " + tree + "\nparent " + repo.head() +
                 "\nauthor A <a@x> 1700000000 -0000\ncommitter C <c@x> 1700000000 +0000"
                 "\ngpgsig -----BEGIN PGP SIGNATURE-----\n \n abc\n -----END PGP SIGNATURE-----"
                 "\nencoding UTF-8\n\nsigned: subject\n");
  const std::string signed_commit = repo.git({"hash-object", "-t", "commit", "-w", "signed.txt"});
  repo.git({"update-ref", "HEAD", signed_commit});
  expect_head_as_git_says(repo.root());

  // Detached, then a branch only in packed-refs, then a linked worktree.
  repo.git({"checkout", "-q", "--detach", "HEAD~1"});
  expect_head_as_git_says(repo.root());
  repo.git({"checkout", "-q", "side"});
  repo.git({"pack-refs", "--all"});
  ASSERT_FALSE(std::filesystem::exists(repo.root() / ".git/refs/heads/side"));
  expect_head_as_git_says(repo.root());
  const path worktree = repo.root() / "wt";
  repo.git({"worktree", "add", "-q", "-b", "feature/wt", worktree.string()});
  ASSERT_EQ(testing::run_command({"git", "commit", "-q", "--allow-empty", "-m", "in the worktree"}, worktree).exit_code,
            0);
  expect_head_as_git_says(worktree);
}

TEST(GitFiles, LeaveToGitWhatTheyDoNotReadPlainly) {
  const auto expect_left_to_git = [](const GitRepo& repo, const std::string& why) {
    SCOPED_TRACE(why);
    EXPECT_FALSE(read_head_from_files(repo.root()).has_value());
    const std::string full = repo.head();
    EXPECT_FALSE(read_commit_from_files(repo.root(), full).has_value());
    // The record still gets git's answer.
    const CommitFields fields = commit_fields(repo.root(), full);
    EXPECT_FALSE(fields.author_date.empty());
    EXPECT_EQ(fields.subject, repo.git({"log", "-1", "--format=%s"}));
  };
  {
    GitRepo repo;
    repo.commit("packed away");
    repo.git({"gc", "-q"});
    expect_left_to_git(repo, "the commit is in a pack");
  }
  {
    GitRepo repo;
    repo.commit("first");
    repo.git({"-c", "i18n.commitEncoding=ISO-8859-1", "commit", "-q", "--allow-empty", "-m", "caf\xe9"});
    expect_left_to_git(repo, "another encoding");
  }
  {
    GitRepo repo("sha256");
    repo.commit("first");
    expect_left_to_git(repo, "SHA-256 objects");
  }
  {
    GitRepo repo;
    const std::string first = repo.commit("first");
    repo.commit("second");
    repo.git({"replace", "HEAD", first});
    expect_left_to_git(repo, "a replace ref");
  }
  {
    GitRepo repo;
    repo.commit("first");
    const std::string branch = repo.git({"rev-parse", "--abbrev-ref", "HEAD"});
    repo.git({"tag", branch});
    EXPECT_FALSE(read_head_from_files(repo.root()).has_value()) << "a tag named like the branch";
    EXPECT_EQ(_resolve_full_sha_on_branch(repo.root(), "HEAD")->branch, "heads/" + branch);
  }
  {
    GitRepo repo;
    repo.commit("first");
    ::setenv("GIT_DIR", (repo.root() / ".git").c_str(), 1);
    EXPECT_FALSE(read_head_from_files(repo.root()).has_value()) << "GIT_DIR";
    ::unsetenv("GIT_DIR");
  }
}

TEST(GitFiles, RefuseObjectsThatAreNotPlainCommits) {
  const std::string tree = "tree " + std::string(40, 'a') + "\n";
  const std::string people = "author A <a@x> 1700000000 +0100\ncommitter C <c@x> 1700000000 +0100\n";
  ASSERT_TRUE(parse_commit_object(tree + people + "\nsubject").has_value());
  EXPECT_EQ(parse_commit_object(tree + people + "\nsubject")->author_date, "2023-11-14T23:13:20+01:00");
  for (const std::string& broken : {
           people + "\nno tree",
           tree + "committer C <c@x> 1700000000 +0100\n\nno author",
           tree + "author A a@x 1700000000 +0100\n" + people.substr(people.find("committer")) + "\nno brackets",
           tree + "author A <a@x> -5 +0100\ncommitter C <c@x> 1 +0100\n\nnegative date",
           tree + "author A <a@x> 1700000000 0100\ncommitter C <c@x> 1 +0100\n\nzone without sign",
           tree + "parent xyz\n" + people + "\nbad parent",
           tree + people + "encoding ISO-8859-1\n\nlatin",
       }) {
    EXPECT_FALSE(parse_commit_object(broken).has_value()) << broken;
  }
}

}  // namespace
}  // namespace tamrik::synccore
