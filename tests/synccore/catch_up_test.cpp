#include "synccore/catch_up.hpp"

#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "host/services/setup_list.hpp"
#include "host/services/shared.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/capture.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/test_adapter.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

namespace tamrik::synccore {
namespace {

using testing::archived;
using testing::commit_counts;
using testing::FixtureRegistry;
using testing::GitRepo;
using testing::read_text;
using testing::write_text;

// Commits with a fixed committer time (seconds since the epoch).
std::string commit_at(GitRepo& repo, const std::string& subject, long when) {
  const std::string date = std::to_string(when) + " +0000";
  setenv("GIT_COMMITTER_DATE", date.c_str(), 1);
  setenv("GIT_AUTHOR_DATE", date.c_str(), 1);
  const std::string sha = repo.commit(subject);
  unsetenv("GIT_COMMITTER_DATE");
  unsetenv("GIT_AUTHOR_DATE");
  return sha;
}

// Commits as `email`, the committer of a teammate's commit pulled in (the
// tests' own identity is author@example.com).
std::string commit_by(GitRepo& repo, const std::string& subject, const std::string& email) {
  setenv("GIT_COMMITTER_EMAIL", email.c_str(), 1);
  const std::string sha = repo.commit(subject);
  setenv("GIT_COMMITTER_EMAIL", "author@example.com", 1);
  return sha;
}

void set_up(const GitRepo& repo, const std::string& installed_at = "") {
  Json config = {{"project_id", 1}};
  if (!installed_at.empty()) config["installed_at"] = installed_at;
  services::shared::save_local_config(repo.root(), config);
  services::setup_list::add(repo.root());  // as `tamrik setup` lists it
}

std::vector<std::string> commits_of(const std::vector<BackfillResult>& results) {
  std::vector<std::string> commits;
  for (const BackfillResult& r : results) commits.push_back(r.commit);
  return commits;
}

// `commits` commits in the ledger, each on one line.
void expect_one_line_each(const GitRepo& repo, size_t commits) {
  const std::map<std::string, int> counts = commit_counts(paths::log_jsonl(repo.root()));
  EXPECT_EQ(counts.size(), commits);
  for (const auto& [commit, lines] : counts) EXPECT_EQ(lines, 1) << commit;
}

TEST(CatchUp, DoesNothingInARepositoryNeverSetUp) {
  FixtureRegistry registry;
  GitRepo repo;
  repo.commit("one");
  EXPECT_TRUE(catch_up_commits(Checkout::main(repo.root())).empty());
  EXPECT_FALSE(std::filesystem::exists(paths::tamrik_dir(repo.root())));
}

TEST(CatchUp, RecordsTheBacklogNewestFirstAndStopsAtTheFirstRecorded) {
  FixtureRegistry registry;
  GitRepo repo;
  set_up(repo);
  const std::string base = repo.commit("base");
  ASSERT_TRUE(capture_commit(Checkout::main(repo.root()), base).written);
  const std::string a = repo.commit("feat: a"), b = repo.commit("b"), c = repo.commit("c");

  const std::vector<BackfillResult> results = catch_up_commits(Checkout::main(repo.root()));
  EXPECT_EQ(commits_of(results), (std::vector<std::string>{c, b, a}));
  EXPECT_EQ(archived(repo, a)["source"], "catch_up");
  EXPECT_EQ(archived(repo, a)["task_type"], "feature");

  const int scans = registry.alpha->scan_calls;
  EXPECT_TRUE(catch_up_commits(Checkout::main(repo.root())).empty());
  EXPECT_EQ(registry.alpha->scan_calls, scans);  // nothing unrecorded: no adapter asked
}

TEST(CatchUp, FirstRunSkipsHistoryBeforeSetup) {
  FixtureRegistry registry;
  GitRepo repo;
  const long setup_time = 1714557600;  // 2024-05-01T10:00:00Z
  const std::string older = commit_at(repo, "older", setup_time - 1);
  const std::string same = commit_at(repo, "same second", setup_time);
  set_up(repo, "2024-05-01T10:00:00Z");
  EXPECT_EQ(commits_of(catch_up_commits(Checkout::main(repo.root()))), (std::vector<std::string>{same}));
  EXPECT_FALSE(_already_recorded(repo.root(), older));
}

TEST(CatchUp, AnchorsOnlyTheFirstRun) {
  FixtureRegistry registry;
  GitRepo repo;
  set_up(repo, "2030-01-01T00:00:00");  // no zone: UTC
  EXPECT_EQ(_installed_at(repo.root()), 1893456000.0);
  const std::string sha = repo.commit("before the stamp");
  EXPECT_TRUE(catch_up_commits(Checkout::main(repo.root())).empty());  // predates the (future) setup
  // Once anything is recorded the anchor no longer applies.
  const std::string later = repo.commit("later");
  capture_commit(Checkout::main(repo.root()), later);
  repo.commit("after");
  EXPECT_EQ(catch_up_commits(Checkout::main(repo.root())).size(), 1u);
}

TEST(CatchUp, ConfigFileTimeIsTheFloorWithoutAStamp) {
  GitRepo repo;
  EXPECT_EQ(_config_anchor(repo.root()), std::nullopt);
  write_text(paths::legacy_dir(repo.root()) / "config.json", "{}");
  const std::optional<double> anchor = _config_anchor(repo.root());
  ASSERT_TRUE(anchor);
  EXPECT_EQ(*anchor, static_cast<double>(static_cast<long>(*anchor)));
  EXPECT_TRUE(_nothing_recorded_yet(repo.root()));
  write_text(paths::attestations_dir(repo.root()) / "x.yaml", "a: 1\n");
  EXPECT_FALSE(_nothing_recorded_yet(repo.root()));
}

TEST(CatchUp, AttributesOnlyASingleMatchingSession) {
  FixtureRegistry registry;
  registry.session("alpha", "s1");
  registry.session("beta", "s2");
  GitRepo repo;
  set_up(repo);
  const std::string one = repo.commit("one"), two = repo.commit("two");
  registry.claims("alpha", "s1", one);
  registry.claims("alpha", "s1", two + "\n" + one);
  registry.claims("beta", "s2", two);
  write_text(paths::commit_attestation(repo.root()), "---\nsummary: waiting\n---\n");

  catch_up_commits(Checkout::main(repo.root()));
  EXPECT_EQ(archived(repo, one)["agent"], "alpha");
  EXPECT_EQ(archived(repo, one)["agent_session_id"], "s1");
  EXPECT_EQ(archived(repo, two)["agent"], "unknown");  // claimed by two sessions
  EXPECT_FALSE(archived(repo, two).contains("agent_session_id"));
  EXPECT_TRUE(std::filesystem::exists(paths::commit_attestation(repo.root())));  // never eaten
}

TEST(CatchUp, AFailingScanLeavesOtherAdaptersAnswering) {
  FixtureRegistry registry;
  registry.alpha->throws = true;
  registry.session("beta", "s2");
  GitRepo repo;
  set_up(repo);
  const std::string sha = repo.commit("one");
  registry.claims("beta", "s2", sha);
  EXPECT_EQ(catch_up_commits(Checkout::main(repo.root())).size(), 1u);
  EXPECT_EQ(archived(repo, sha)["agent"], "beta");
}

TEST(CatchUp, LeavesATeammatesCommitsToThemAndWalksPastThem) {
  FixtureRegistry registry;
  GitRepo repo;
  set_up(repo);
  ASSERT_TRUE(capture_commit(Checkout::main(repo.root()), repo.commit("base")).written);
  const std::string mine = repo.commit("mine");
  const std::string theirs = commit_by(repo, "theirs", "alice@example.com");
  const std::string shouted = commit_by(repo, "mine, spelled in capitals", "AUTHOR@Example.COM");
  // Written by a teammate, committed here (a rebase, a cherry-pick): ours.
  setenv("GIT_AUTHOR_EMAIL", "alice@example.com", 1);
  const std::string picked = repo.commit("picked");
  setenv("GIT_AUTHOR_EMAIL", "author@example.com", 1);
  const std::string theirs_on_top = commit_by(repo, "theirs on top", "alice@example.com");

  EXPECT_EQ(commits_of(catch_up_commits(Checkout::main(repo.root()))),
            (std::vector<std::string>{picked, shouted, mine}));
  EXPECT_FALSE(_already_recorded(repo.root(), theirs));
  EXPECT_FALSE(_already_recorded(repo.root(), theirs_on_top));
  EXPECT_TRUE(catch_up_commits(Checkout::main(repo.root())).empty());

  // A commit made here on top of a teammate's: the hook records it, and the
  // walk below it passes theirs.
  const std::string more_theirs = commit_by(repo, "more theirs", "alice@example.com");
  const std::string next = repo.commit("next");
  EXPECT_EQ(record_commit(Checkout::main(repo.root())), next);
  EXPECT_FALSE(_already_recorded(repo.root(), more_theirs));
  expect_one_line_each(repo, 5u);
}

TEST(CatchUp, WithoutAConfiguredIdentityEveryCommitCounts) {
  FixtureRegistry registry;
  GitRepo repo;
  set_up(repo);
  const std::string theirs = commit_by(repo, "theirs", "alice@example.com");
  setenv("GIT_CONFIG_GLOBAL", "/dev/null", 1);  // the identity lived there
  const std::vector<BackfillResult> results = catch_up_commits(Checkout::main(repo.root()));
  setenv("GIT_CONFIG_GLOBAL", (testing::test_home() / ".gitconfig").c_str(), 1);
  EXPECT_EQ(commits_of(results), std::vector<std::string>{theirs});
}

TEST(CatchUp, NestedAppendsRunUnderTheWalksLock) {
  FixtureRegistry registry;
  GitRepo repo;
  set_up(repo);
  repo.commit("one");
  repo.commit("two");
  detail::ledger_lock_timeout = std::chrono::milliseconds(100);
  EXPECT_EQ(catch_up_commits(Checkout::main(repo.root()), 1).size(), 1u);  // limit 1: only the newest
  detail::ledger_lock_timeout = std::chrono::milliseconds(10'000);
  EXPECT_TRUE(detail::spool_files(paths::log_jsonl(repo.root())).empty());
}

TEST(CatchUp, TwoWalksAtOnceRecordEachCommitOnce) {
  GitRepo repo;
  set_up(repo);
  for (int i = 0; i < 15; ++i) repo.commit("commit " + std::to_string(i));
  std::vector<pid_t> walkers;
  for (int w = 0; w < 2; ++w) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      catch_up_commits(Checkout::main(repo.root()));
      ::_exit(0);
    }
    walkers.push_back(pid);
  }
  for (pid_t pid : walkers) ::waitpid(pid, nullptr, 0);
  expect_one_line_each(repo, 15u);
}

// Several processes committing in one checkout: a post-commit hook can find
// HEAD already moved on, so the commit it fired for sits below HEAD.
TEST(CatchUpBelow, TheHookRecordsTheUnrecordedCommitsUnderHead) {
  FixtureRegistry registry;
  GitRepo repo;
  set_up(repo, "2020-01-01T00:00:00Z");
  ASSERT_TRUE(capture_commit(Checkout::main(repo.root()), repo.commit("base")).written);
  const std::string a = repo.commit("feat: a"), b = repo.commit("b"), c = repo.commit("c");

  EXPECT_EQ(record_commit(Checkout::main(repo.root())), c);
  EXPECT_EQ(archived(repo, c)["source"], "post_commit");
  EXPECT_EQ(archived(repo, b)["source"], "catch_up");
  EXPECT_EQ(archived(repo, a)["source"], "catch_up");
  EXPECT_EQ(archived(repo, a)["task_type"], "feature");

  // HEAD recorded by another trigger first: the hook still fills the gap.
  const std::string d = repo.commit("d"), e = repo.commit("e");
  ASSERT_TRUE(capture_commit(Checkout::main(repo.root()), e).written);
  EXPECT_EQ(record_commit(Checkout::main(repo.root())), e);
  EXPECT_TRUE(_already_recorded(repo.root(), d));

  // The ledger held by another writer past the hook's wait: the gap is
  // spooled, not left for a walk that would stop at the record above it.
  const std::string f = repo.commit("f"), g = repo.commit("g");
  ASSERT_TRUE(capture_commit(Checkout::main(repo.root()), g).written);
  const path ledger = paths::log_jsonl(repo.root()), held = repo.root() / "held";
  const pid_t holder = ::fork();
  if (holder == 0) {
    const core::LockGuard guard = core::locked(ledger);
    write_text(held, "");
    while (std::filesystem::exists(held)) ::usleep(5'000);
    ::_exit(0);
  }
  while (!std::filesystem::exists(held)) ::usleep(5'000);
  limit_lock_waits(std::chrono::milliseconds(200));  // as a hook's budget
  EXPECT_EQ(record_commit(Checkout::main(repo.root())), g);
  limit_lock_waits(std::chrono::hours(1));
  std::filesystem::remove(held);
  ::waitpid(holder, nullptr, 0);
  EXPECT_TRUE(_already_recorded(repo.root(), f));
  EXPECT_EQ(record_commit(Checkout::main(repo.root())), repo.commit("h"));  // merges the spool

  expect_one_line_each(repo, 9u);
}

TEST(CatchUpBelow, HistoryBeforeSetupStaysUnrecorded) {
  FixtureRegistry registry;
  GitRepo repo;
  const long setup_time = 1714557600;  // 2024-05-01T10:00:00Z
  const std::string old = commit_at(repo, "old", setup_time - 60);
  const std::string older_branch_base = commit_at(repo, "older", setup_time - 1);
  set_up(repo, "2024-05-01T10:00:00Z");
  const std::string first = commit_at(repo, "first since setup", setup_time + 5);

  // The first record made here leaves the history under it alone, even
  // though nothing was recorded before; so does every later one.
  EXPECT_EQ(record_commit(Checkout::main(repo.root())), first);
  EXPECT_FALSE(_already_recorded(repo.root(), older_branch_base));
  EXPECT_FALSE(_already_recorded(repo.root(), old));

  // A branch started from old history: its first commit's parent predates setup.
  repo.git({"checkout", "-q", "-b", "topic", old});
  const std::string topic = commit_at(repo, "topic", setup_time + 10);
  EXPECT_EQ(record_commit(Checkout::main(repo.root())), topic);
  EXPECT_FALSE(_already_recorded(repo.root(), old));
  const std::string ledger = read_text(paths::log_jsonl(repo.root()));
  EXPECT_EQ(detail::split_lines(ledger).size(), 2u);
}

TEST(CatchUpBelow, AMergeRecordsTheUnrecordedSideBranch) {
  FixtureRegistry registry;
  GitRepo repo;
  set_up(repo, "2020-01-01T00:00:00Z");
  ASSERT_TRUE(record_commit(Checkout::main(repo.root()), repo.commit("base")));
  repo.git({"checkout", "-q", "-b", "side"});
  const std::string side = repo.commit("side", "side.txt");  // no hook saw it
  repo.git({"checkout", "-q", "main"});
  ASSERT_TRUE(record_commit(Checkout::main(repo.root()), repo.commit("mainline", "main.txt")));
  repo.git({"merge", "-q", "--no-ff", "-m", "merge side", "side"});

  const std::optional<std::string> merge = record_commit(Checkout::main(repo.root()));
  ASSERT_TRUE(merge);
  EXPECT_TRUE(_already_recorded(repo.root(), side));
  EXPECT_EQ(archived(repo, side)["source"], "catch_up");
}

}  // namespace
}  // namespace tamrik::synccore
