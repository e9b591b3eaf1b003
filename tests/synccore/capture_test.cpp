#include "synccore/capture.hpp"

#include "core/file_io.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/ledger.hpp"
#include "synccore/test_adapter.hpp"

#include <gtest/gtest.h>

namespace tamrik::synccore {
namespace {

using testing::archived;
using testing::FixtureRegistry;
using testing::GitRepo;
using testing::read_text;
using testing::write_text;

std::string ledger_text(const GitRepo& repo) {
  return core::try_read_file(paths::log_jsonl(repo.root()), 1 << 30).value_or("");
}

void write_pending_summary(const GitRepo& repo, const std::string& summary) {
  write_text(paths::commit_attestation(repo.root()),
             "---\nstaged_diff_hash: \"\"\ntimestamp: \"2024-05-01T10:00:00Z\"\nagent_model: m\nsummary: " + summary +
                 "\n---\n");
}

TEST(CaptureCommit, RecordsEachCommitOnce) {
  FixtureRegistry registry;
  GitRepo repo;
  EXPECT_EQ(record_commit(Checkout::main(repo.root())), std::nullopt);  // no commits yet
  const std::string sha = repo.commit("feat: first");

  const BackfillResult first = capture_commit(Checkout::main(repo.root()), "HEAD");
  EXPECT_TRUE(first.written);
  EXPECT_EQ(first.commit, sha);
  const std::string after_first = ledger_text(repo);
  const BackfillResult second = capture_commit(Checkout::main(repo.root()), sha.substr(0, 10));
  EXPECT_FALSE(second.written);
  EXPECT_EQ(second.reason, "already recorded");
  EXPECT_EQ(ledger_text(repo), after_first);
  EXPECT_EQ(record_commit(Checkout::main(repo.root())), sha);

  const BackfillResult missing = capture_commit(Checkout::main(repo.root()), "no-such-ref");
  EXPECT_EQ(missing.reason, "no such commit in this repo");
  EXPECT_EQ(missing.commit, "no-such-ref");
}

TEST(CaptureCommit, FilesAWaitingAttestationOnlyWhenAllowed) {
  FixtureRegistry registry;
  GitRepo repo;
  const std::string first = repo.commit("first");
  write_pending_summary(repo, "attested change");
  const BackfillResult kept = capture_commit(Checkout::main(repo.root()), first, {.consume_pending = false});
  EXPECT_TRUE(kept.written);
  EXPECT_FALSE(kept.attested);
  EXPECT_TRUE(std::filesystem::exists(paths::commit_attestation(repo.root())));
  EXPECT_EQ(archived(repo, first)["summary"], "first");

  const std::string second = repo.commit("second");
  const BackfillResult filed = capture_commit(Checkout::main(repo.root()), second);
  EXPECT_TRUE(filed.written);
  EXPECT_TRUE(filed.attested);
  EXPECT_FALSE(std::filesystem::exists(paths::commit_attestation(repo.root())));
  EXPECT_EQ(archived(repo, second)["summary"], "attested change");
  const AttestationLog log = read_attestation_log(paths::log_jsonl(repo.root()));
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(log.attested, 1);
  EXPECT_EQ(log.unattested, 1);
}

TEST(CaptureCommit, AttributesOnlyWhatCanBeProven) {
  FixtureRegistry registry;
  registry.session("alpha", "s-alpha");
  GitRepo repo;

  // A session no adapter knows, with a named adapter: that adapter, the
  // session id, no telemetry.
  const std::string a = repo.commit("one");
  capture_commit(Checkout::main(repo.root()), a, {.session_id = "s-unknown", .agent = "beta"});
  Json doc = archived(repo, a);
  EXPECT_EQ(doc["agent"], "beta");
  EXPECT_EQ(doc["agent_session_id"], "s-unknown");
  EXPECT_FALSE(doc.contains("telemetry"));

  // The same without a named adapter: unknown, no session.
  const std::string b = repo.commit("two");
  capture_commit(Checkout::main(repo.root()), b, {.session_id = "s-unknown"});
  doc = archived(repo, b);
  EXPECT_EQ(doc["agent"], "unknown");
  EXPECT_FALSE(doc.contains("agent_session_id"));

  // A known session: the recognising adapter, with telemetry and tokens.
  const std::string c = repo.commit("three");
  const BackfillResult known =
      capture_commit(Checkout::main(repo.root()), c, {.session_id = "s-alpha", .agent = "beta"});
  EXPECT_TRUE(known.tokens);
  doc = archived(repo, c);
  EXPECT_EQ(doc["agent"], "alpha");
  EXPECT_EQ(doc["agent_provider"], "alpha-provider");
  EXPECT_EQ(doc["agent_model"], "model-x");
  EXPECT_EQ(doc["telemetry"]["source"], "harness");
  EXPECT_EQ(doc["telemetry"]["agent_runtime"], "alpha");
  EXPECT_EQ(doc["telemetry"]["session_id"], "s-alpha");
}

TEST(CaptureCommit, NamedAdapterIsAskedFirstAndOnce) {
  FixtureRegistry registry;
  registry.session("alpha", "shared");
  registry.session("beta", "shared", "beta-model");
  GitRepo repo;
  const std::string sha = repo.commit("one");
  capture_commit(Checkout::main(repo.root()), sha, {.session_id = "shared", .agent = "beta"});
  EXPECT_EQ(archived(repo, sha)["agent"], "beta");
  EXPECT_EQ(registry.beta->telemetry_calls, 1);
  EXPECT_EQ(registry.alpha->telemetry_calls, 0);
}

TEST(CaptureCommit, AFailingAdapterIsSkipped) {
  FixtureRegistry registry;
  registry.alpha->throws = true;
  registry.session("beta", "s-beta");
  GitRepo repo;
  const std::string sha = repo.commit("one");
  EXPECT_TRUE(capture_commit(Checkout::main(repo.root()), sha, {.session_id = "s-beta"}).written);
  EXPECT_EQ(archived(repo, sha)["agent"], "beta");
}

TEST(CaptureCommit, AmbientAttributionOnlyAtCommitTime) {
  FixtureRegistry registry;
  GitRepo repo;
  repo.git({"checkout", "-q", "-b", "fix/login"});
  repo.git({"commit", "-q", "--allow-empty", "--author=Someone Else <else@example.com>", "-m", "tidy"});
  const std::string walked = repo.head();
  capture_commit(Checkout::main(repo.root()), walked, {.source = "catch_up", .attribute_ambient = false});
  Json doc = archived(repo, walked);
  EXPECT_EQ(doc["agent"], "unknown");
  EXPECT_EQ(doc["developer"], (Json{{"git_author_name", "Someone Else"}, {"git_author_email", "else@example.com"}}));
  EXPECT_FALSE(doc.contains("task_type"));  // the branch says nothing about a walked commit

  // At commit time: the committer (the configured identity), the branch, and the harness
  // this process runs under.
  registry.alpha->active = true;
  registry.alpha->current_session = "live";
  registry.session("alpha", "live");
  repo.git({"commit", "-q", "--allow-empty", "--author=Someone Else <else@example.com>", "-m", "tidy again"});
  const std::string live = repo.head();
  capture_commit(Checkout::main(repo.root()), live, {.source = "post_commit"});
  doc = archived(repo, live);
  EXPECT_EQ(doc["agent"], "alpha");
  EXPECT_EQ(doc["agent_session_id"], "live");
  EXPECT_EQ(doc["developer"], (Json{{"git_author_name", "Test Author"}, {"git_author_email", "author@example.com"}}));
  EXPECT_EQ(doc["task_type"], "bug-fix");
  EXPECT_EQ(doc["task_type_source"], "inferred");
}

TEST(RecordBackfill, RefusesWhatItCannotProve) {
  FixtureRegistry registry;
  registry.session("beta", "no-model", "");
  registry.session("beta", "good");
  GitRepo repo;
  const std::string sha = repo.commit("one");
  BackfillResult result =
      record_backfill(Checkout::main(repo.root()), {.commit = sha, .session_id = "ghost", .task_type = "feature"});
  EXPECT_EQ(result.reason, "no agent transcript found for session ghost");
  result =
      record_backfill(Checkout::main(repo.root()), {.commit = sha, .session_id = "no-model", .task_type = "feature"});
  EXPECT_EQ(result.reason, "transcript for session no-model names no model");
  EXPECT_FALSE(std::filesystem::exists(paths::log_jsonl(repo.root())));

  result = record_backfill(Checkout::main(repo.root()), {.commit = sha, .session_id = "good", .task_type = "docs"});
  EXPECT_TRUE(result.written);
  const Json doc = archived(repo, sha);
  EXPECT_EQ(doc["agent"], "beta");
  EXPECT_EQ(doc["task_type"], "docs");
  EXPECT_EQ(doc["task_type_source"], "declared");
  EXPECT_EQ(doc["telemetry"]["source"], "backfill");
  EXPECT_EQ(
      record_backfill(Checkout::main(repo.root()), {.commit = sha, .session_id = "good", .task_type = "docs"}).reason,
      "already recorded");
  EXPECT_EQ(record_backfill(Checkout::main(repo.root()), {.commit = "nope", .session_id = "good", .task_type = "docs"})
                .reason,
            "no such commit in this repo");
}

}  // namespace
}  // namespace tamrik::synccore
