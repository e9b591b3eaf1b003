#include "synccore/pending.hpp"

#include "core/file_io.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "host/services/git_identity.hpp"
#include "host/services/ledger_service.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/ledger.hpp"
#include "synccore/test_adapter.hpp"
#include "synccore/mark_synced.hpp"

#include <gtest/gtest.h>

namespace tamrik::synccore {
namespace {

using testing::archived;
using testing::commit_counts;
using testing::FixtureRegistry;
using testing::GitRepo;
using testing::read_text;
using testing::write_text;

// Over a first commit of a.txt, stages a change to it and commits that: the
// staged change's hash and the commit it went into.
std::pair<std::string, std::string> commit_staged_change(GitRepo& repo, const std::string& subject) {
  write_text(repo.root() / "a.txt", "two\n");
  repo.git({"add", "a.txt"});
  const std::string staged = *services::shared::get_staged_diff_hash(repo.root());
  repo.git({"commit", "-q", "-m", subject});
  return {staged, repo.head()};
}

// Stages `file` with `content`, hashes the staged change, commits it, and
// checks that the commit is found by that hash.
void expect_staged_hash_finds_commit(GitRepo& repo, const std::string& file, const std::string& content,
                                     const std::string& what) {
  write_text(repo.root() / file, content);
  repo.git({"add", "-A"});
  const std::optional<std::string> staged = services::shared::get_staged_diff_hash(repo.root());
  ASSERT_TRUE(staged) << what;
  repo.git({"commit", "-q", "-m", what});
  EXPECT_EQ(_find_commit_by_diff_hash(repo.root(), *staged), repo.head()) << what;
}

TEST(StagedDiffHash, AgreesWithTheCommitItBecomes) {
  FixtureRegistry registry;
  GitRepo repo;
  expect_staged_hash_finds_commit(repo, "a.txt", "root\n", "root commit");
  expect_staged_hash_finds_commit(repo, "a.txt", "root\nmore\n", "normal commit");
  expect_staged_hash_finds_commit(repo, "dos.txt", "one\r\ntwo\r\n", "CR LF file");
  expect_staged_hash_finds_commit(repo, "bin.dat", std::string("\0\1\2\3binary\0", 11), "binary file");
  repo.git({"mv", "a.txt", "b.txt"});
  expect_staged_hash_finds_commit(repo, "b.txt", "root\nmore\n", "rename");
  // User settings that change what porcelain diff prints.
  repo.git({"config", "diff.noprefix", "true"});
  repo.git({"config", "diff.mnemonicPrefix", "true"});
  repo.git({"config", "color.ui", "always"});
  expect_staged_hash_finds_commit(repo, "b.txt", "changed under odd settings\n", "odd settings");
  repo.git({"config", "diff.external", "/bin/false"});
  expect_staged_hash_finds_commit(repo, "c.txt", "external diff driver\n", "external diff");
}

TEST(StagedDiffHash, ASha256RepositoryFindsItsRootCommit) {
  FixtureRegistry registry;
  GitRepo repo("sha256");
  expect_staged_hash_finds_commit(repo, "a.txt", "root\n", "root commit");
}

// An empty change describes no commit: not an empty root commit, whose
// patch hashes like the empty input, and not the commit asked for either.
TEST(AttachPendingAttestation, FilesOnlyOnTheCommitItsHashDescribes) {
  FixtureRegistry registry;
  GitRepo repo;
  repo.git({"commit", "-q", "--allow-empty", "-m", "Initial commit"});
  const std::string root = repo.head();
  const auto [staged, described] = commit_staged_change(repo, "feat: described");
  const std::string head = repo.commit("feat: later");
  EXPECT_EQ(_find_commit_by_diff_hash(repo.root(), services::shared::patch_hash("")), std::nullopt);

  write_pending(repo, staged);
  const BackfillResult refused = attach_pending_attestation(Checkout::main(repo.root()), head);
  EXPECT_FALSE(refused.written);
  EXPECT_NE(refused.reason.find("describes commit " + described), std::string::npos) << refused.reason;
  EXPECT_TRUE(attach_pending_attestation(Checkout::main(repo.root()), described).written);

  write_pending(repo, services::shared::patch_hash(""));
  const BackfillResult empty = attach_pending_attestation(Checkout::main(repo.root()), head);
  EXPECT_TRUE(empty.written);
  EXPECT_EQ(empty.commit, head);
  EXPECT_FALSE(std::filesystem::exists(paths::attestations_dir(repo.root()) / (root + ".yaml")));
}

TEST(PatchHash, CrLfHashesLikeLf) {
  EXPECT_EQ(services::shared::patch_hash("a\r\nb\r\n"), services::shared::patch_hash("a\nb\n"));
  EXPECT_NE(services::shared::patch_hash("a\rb"), services::shared::patch_hash("ab"));
}

TEST(ProcessPendingAttestation, NothingPendingDoesNothing) {
  GitRepo repo;
  repo.commit("first");
  write_text(repo.root() / ".tamriklog", "{\"commit\": \"x\"}\n");
  const AttestationResult result = process_pending_attestation(Checkout::main(repo.root()));
  EXPECT_FALSE(result.found);
  EXPECT_TRUE(std::filesystem::exists(repo.root() / ".tamriklog"));
}

TEST(ProcessPendingAttestation, DiffHashMatchWinsOverTheOverride) {
  FixtureRegistry registry;
  GitRepo repo;
  const std::string root = repo.commit("root", "a.txt", "one\n");
  const auto [staged, second] = commit_staged_change(repo, "second");

  write_pending(repo, staged);
  const AttestationResult result = process_pending_attestation(Checkout::main(repo.root()), {.commit_override = root});
  EXPECT_TRUE(result.found);
  EXPECT_EQ(result.matched_commit, second);
  EXPECT_EQ(archived(repo, second)["summary"], "filed");
  EXPECT_FALSE(std::filesystem::exists(paths::commit_attestation(repo.root())));
}

TEST(ProcessPendingAttestation, AFilingLeftBehindByACrashIsFiledAgainOnTheSameLine) {
  FixtureRegistry registry;
  GitRepo repo;
  repo.commit("root", "a.txt", "one\n");
  const auto [staged, attested] = commit_staged_change(repo, "attested");
  write_pending(repo, staged);
  ASSERT_EQ(process_pending_attestation(Checkout::main(repo.root()), {}).matched_commit, attested);

  // Killed between the ledger line and the removal: the same file is back.
  write_pending(repo, staged);
  repo.commit("later", "b.txt", "other\n");
  const AttestationResult again =
      process_pending_attestation(Checkout::main(repo.root()), {.commit_override = repo.head()});
  EXPECT_EQ(again.matched_commit, attested);
  EXPECT_EQ(commit_counts(paths::log_jsonl(repo.root()))[attested], 1);
  EXPECT_FALSE(std::filesystem::exists(paths::commit_attestation(repo.root())));
}

TEST(ProcessPendingAttestation, WithoutAHashTheOverrideOrHeadDecides) {
  FixtureRegistry registry;
  GitRepo repo;
  const std::string first = repo.commit("first");
  const std::string second = repo.commit("second");
  write_pending(repo, "");
  EXPECT_EQ(process_pending_attestation(Checkout::main(repo.root()), {.commit_override = first}).matched_commit, first);
  write_pending(repo, "");
  const AttestationResult head = process_pending_attestation(Checkout::main(repo.root()));
  EXPECT_EQ(head.matched_commit, std::nullopt);
  EXPECT_EQ(archived(repo, second)["summary"], "filed");  // filed under HEAD
}

TEST(ProcessPendingAttestation, MergesTheLegacyLedgerWithALineBreak) {
  FixtureRegistry registry;
  GitRepo repo;
  const std::string sha = repo.commit("first");
  const std::string old_line = R"({"commit": ")" + std::string(40, 'a') + R"(", "synced": true})";
  write_text(repo.root() / ".tamriklog", old_line);  // no final line break
  write_pending(repo, "");
  process_pending_attestation(Checkout::main(repo.root()), {.commit_override = sha});
  EXPECT_FALSE(std::filesystem::exists(repo.root() / ".tamriklog"));
  const AttestationLog log = read_attestation_log(paths::log_jsonl(repo.root()));
  EXPECT_EQ(log.corrupt, 0);
  EXPECT_EQ(log.uploaded, 1);
  EXPECT_EQ(log.size(), 1u);
}

TEST(ProcessPendingAttestation, RefreshesOrDropsTheProcessSection) {
  FixtureRegistry registry;
  GitRepo repo;
  const std::string sha = repo.commit("first");
  const std::string process = "process:\n  slug: login-flow\n  stale: true\n";

  write_pending(repo, "", process);  // no live ledger, nothing archived: dropped
  process_pending_attestation(Checkout::main(repo.root()), {.commit_override = sha});
  EXPECT_FALSE(archived(repo, sha).contains("process"));

  write_text(paths::archived_ledger(repo.root(), sha), "{}\n");  // archived: kept as written
  write_pending(repo, "", process);
  process_pending_attestation(Checkout::main(repo.root()), {.commit_override = sha});
  EXPECT_EQ(archived(repo, sha)["process"]["stale"], true);

  services::ledger_service::mark_milestone(repo.root(), "login-flow", "planned", Json::object());
  write_pending(repo, "", process);  // derivable: replaced
  process_pending_attestation(Checkout::main(repo.root()), {.commit_override = sha});
  const Json section = archived(repo, sha)["process"];
  EXPECT_EQ(section["slug"], "login-flow");
  EXPECT_FALSE(section.contains("stale"));
}

TEST(EnrichAttestation, FillsTheEnvironmentalFields) {
  FixtureRegistry registry;
  GitRepo repo;
  Json bare = {{"summary", "x"}};
  _enrich_attestation(bare, Checkout::main(repo.root()));
  EXPECT_TRUE(bare["rules"]["available"].is_null());  // no rules cached
  EXPECT_EQ(bare["developer"]["git_author_name"], "Test Author");
  EXPECT_FALSE(bare.contains("agent"));  // no harness detected

  registry.alpha->active = true;
  registry.alpha->current_session = "live";
  registry.session("alpha", "live");
  Json doc = {{"summary", "x"}, {"agent", "ALPHA"}, {"rules", {{"checked", true}}}};
  _enrich_attestation(doc, Checkout::main(repo.root()));
  EXPECT_EQ(doc["agent"], "alpha");
  EXPECT_EQ(doc["agent_session_id"], "live");
  EXPECT_EQ(doc["telemetry"]["source"], "adapter_direct");
  EXPECT_EQ(doc["rules"]["checked"], true);

  write_text(paths::platform_dir(repo.root()) / "tamrikrules.yaml", "principles:\n  a: 1\n  b: 2\n");
  Json with_provider = {{"summary", "x"}};
  _enrich_attestation(with_provider, Checkout::main(repo.root()));
  EXPECT_EQ(with_provider["rules"]["available"], 2);
  EXPECT_EQ(with_provider["agent"], "alpha");
  EXPECT_EQ(with_provider["agent_provider"], "alpha-provider");
}

TEST(AttachPendingAttestation, UpgradesTheRecordedLineInPlace) {
  FixtureRegistry registry;
  GitRepo repo;
  const std::string sha = repo.commit("first");
  EXPECT_EQ(attach_pending_attestation(Checkout::main(repo.root()), "nope").reason, "no such commit in this repo");
  EXPECT_EQ(attach_pending_attestation(Checkout::main(repo.root()), sha).reason, "no pending attestation file");

  write_pending(repo, "");
  process_pending_attestation(Checkout::main(repo.root()), {.commit_override = sha});
  testing::mark_synced(paths::log_jsonl(repo.root()), Json::array({Json{{"commit", sha}}}));
  write_pending(repo, "", "agent_id: upgraded\n");
  const BackfillResult result = attach_pending_attestation(Checkout::main(repo.root()), sha.substr(0, 9));
  EXPECT_TRUE(result.written);
  EXPECT_TRUE(result.attested);
  const AttestationLog log = read_attestation_log(paths::log_jsonl(repo.root()));
  ASSERT_EQ(log.size(), 1u);  // one line, back to unsent
  EXPECT_EQ(log.uploaded, 0);
  EXPECT_EQ(log.pending[0]["agent_id"], "upgraded");
}

}  // namespace
}  // namespace tamrik::synccore
