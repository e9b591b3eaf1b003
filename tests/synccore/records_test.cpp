#include "synccore/records.hpp"

#include "core/file_io.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "host/services/ledger_service.hpp"
#include "host/services/shared.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/ledger.hpp"
#include "synccore/mark_synced.hpp"

#include <gtest/gtest.h>

namespace tamrik::synccore {
namespace {

using testing::GitRepo;
using testing::read_text;
using testing::write_text;

std::vector<Json> ledger_lines(const GitRepo& repo) {
  std::vector<Json> lines;
  const std::string text = read_text(paths::log_jsonl(repo.root()));
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(*core::parse_json(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> keys_of(const Json& map) {
  std::vector<std::string> keys;
  for (const auto& item : map.items()) keys.push_back(item.key());
  return keys;
}

TEST(WriteCommitRecord, WritesTheDocumentAndItsLedgerLine) {
  GitRepo repo;
  const std::string sha = repo.commit("fix(login): reject empty passwords");
  Json telemetry = {{"model", "claude-sonnet-4"}, {"tokens", {{"input", 10}, {"output", 5}}}};
  const BackfillResult result = _write_commit_record(Checkout::main(repo.root()), sha,
                                                     {.source = "post_commit",
                                                      .agent_name = "claude-code",
                                                      .agent_provider = "anthropic",
                                                      .session_id = "s-1",
                                                      .telemetry = telemetry,
                                                      .branch = "main",
                                                      .developer = Json{{"git_author_name", "Dana"}},
                                                      .event = "commit_unattested"});
  EXPECT_TRUE(result.written);
  EXPECT_TRUE(result.tokens);
  EXPECT_EQ(result.commit, sha);

  const Json doc = archived(repo, sha);
  EXPECT_EQ(keys_of(doc), (std::vector<std::string>{"source", "timestamp", "agent", "agent_provider", "agent_model",
                                                    "agent_session_id", "developer", "task_type", "task_type_source",
                                                    "summary", "telemetry"}));
  EXPECT_EQ(doc["task_type"], "bug-fix");
  EXPECT_EQ(doc["task_type_source"], "inferred");
  EXPECT_EQ(doc["summary"], "fix(login): reject empty passwords");
  EXPECT_EQ(doc["telemetry"]["session_id"], "s-1");
  EXPECT_EQ(doc["timestamp"], repo.git({"show", "-s", "--format=%aI", sha}));

  const std::vector<Json> lines = ledger_lines(repo);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(keys_of(lines[0]),
            (std::vector<std::string>{"commit", "branch", "timestamp", "agent", "summary", "synced", "event",
                                      "agent_provider", "agent_session_id", "developer", "telemetry"}));
  EXPECT_EQ(lines[0]["event"], "commit_unattested");
  EXPECT_EQ(lines[0]["branch"], "main");
  EXPECT_EQ(lines[0]["synced"], false);
  EXPECT_TRUE(_already_recorded(repo.root(), sha));
}

TEST(WriteCommitRecord, BackfillDeclaresItsTaskTypeAndProvenance) {
  GitRepo repo;
  const std::string sha = repo.commit("feat: a feature");
  _write_commit_record(Checkout::main(repo.root()), sha,
                       {.source = "backfill", .agent_name = "codex", .task_type = "refactor", .archive_ledger = false});
  const Json doc = archived(repo, sha);
  EXPECT_EQ(doc["task_type"], "refactor");
  EXPECT_EQ(doc["task_type_source"], "declared");
  EXPECT_EQ(doc["provenance"], (Json{{"type", "ad-hoc"}, {"ref", "backfill"}}));
}

TEST(WriteCommitRecord, DeveloperFromTheCommitAndNoTypeWhenNothingInfers) {
  GitRepo repo;
  repo.git({"-c", "user.email=", "commit", "-q", "--allow-empty", "--author=Only Name <>", "-m", "tidy things"});
  const std::string sha = repo.head();
  _write_commit_record(Checkout::main(repo.root()), sha,
                       {.source = "catch_up", .developer_from = DeveloperFrom::author});
  const Json doc = archived(repo, sha);
  EXPECT_EQ(doc["developer"], (Json{{"git_author_name", "Only Name"}}));
  EXPECT_FALSE(doc.contains("task_type"));
  EXPECT_FALSE(doc.contains("task_type_source"));
  EXPECT_EQ(doc["agent"], "unknown");
}

TEST(LogAttestation, ReplaceExistingKeepsOneLine) {
  GitRepo repo;
  const std::string sha = repo.commit("first");
  const path log = paths::log_jsonl(repo.root());
  const path dir = paths::attestations_dir(repo.root());
  Json doc = {{"timestamp", "2024-05-01T10:00:00Z"}, {"agent", "claude-code"}, {"summary", "one"}};
  _log_attestation(log, dir, doc, {.commit_override = sha, .checkout = Checkout::main(repo.root())});
  testing::mark_synced(log, Json::array({Json{{"commit", sha}}}));
  doc["summary"] = "two";
  _log_attestation(log, dir, doc,
                   {.commit_override = sha, .checkout = Checkout::main(repo.root()), .replace_existing = true});
  std::vector<Json> lines = ledger_lines(repo);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["summary"], "two");
  EXPECT_EQ(lines[0]["synced"], false);  // upgraded records go out again
  EXPECT_EQ(archived(repo, sha)["summary"], "two");

  // Without it the ledger still keeps one line per commit.
  doc["summary"] = "three";
  _log_attestation(log, dir, doc, {.commit_override = sha, .checkout = Checkout::main(repo.root())});
  lines = ledger_lines(repo);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["summary"], "three");
}

TEST(LogAttestation, AbsentKeysBecomeEmptyTextAndNullStaysNull) {
  GitRepo repo;
  const std::string sha = repo.commit("first");
  _log_attestation(paths::log_jsonl(repo.root()), paths::attestations_dir(repo.root()),
                   Json{{"agent", nullptr}, {"developer", Json::object()}}, {.checkout = Checkout::main(repo.root())});
  const Json line = ledger_lines(repo)[0];
  EXPECT_EQ(line["commit"], sha);  // HEAD by default
  EXPECT_EQ(line["timestamp"], "");
  EXPECT_TRUE(line["agent"].is_null());
  EXPECT_FALSE(line.contains("developer"));
}

TEST(ArchiveLedgerSegment, SealsAndMovesTheChangeLedger) {
  GitRepo repo;
  const std::string sha = repo.commit("feat: login");
  services::ledger_service::mark_milestone(repo.root(), "login-flow", "started", Json::object());
  services::ledger_service::set_pointer(repo.root(), "session-1", "login-flow");
  services::ledger_service::mark_milestone(repo.root(), "other-change", "started", Json::object());
  const Json doc = {{"summary", "x"}, {"provenance", {{"type", "spec"}, {"ref", "login-flow"}}}};
  _log_attestation(paths::log_jsonl(repo.root()), paths::attestations_dir(repo.root()), doc,
                   {.commit_override = sha, .checkout = Checkout::main(repo.root())});

  EXPECT_FALSE(std::filesystem::exists(paths::ledger_jsonl(repo.root(), "login-flow")));
  EXPECT_TRUE(std::filesystem::exists(paths::ledger_jsonl(repo.root(), "other-change")));
  const std::string archived_ledger = read_text(paths::archived_ledger(repo.root(), sha));
  EXPECT_NE(archived_ledger.find("\"sealed\""), std::string::npos);
  EXPECT_NE(archived_ledger.find(sha), std::string::npos);
  EXPECT_FALSE(services::ledger_service::read_pointers(repo.root()).contains("session-1"));
}

TEST(ArchiveLedgerSegment, NothingToArchiveAndUnsafeSlugs) {
  GitRepo repo;
  const std::string sha = repo.commit("first");
  const path dir = paths::attestations_dir(repo.root());
  // No slug at all, and a slug whose live ledger does not exist.
  _archive_ledger_segment(repo.root(), dir, Json{{"summary", "x"}}, sha);
  _archive_ledger_segment(repo.root(), dir, Json{{"process", {{"slug", "missing"}}}}, sha);
  EXPECT_TRUE(std::filesystem::is_directory(dir));
  EXPECT_FALSE(std::filesystem::exists(paths::archived_ledger(repo.root(), sha)));

  // A slug that would reach outside .tamrik moves nothing.
  write_text(repo.root() / "victim.jsonl", "keep me\n");
  _archive_ledger_segment(repo.root(), dir, Json{{"process", {{"slug", "../../victim"}}}}, sha);
  EXPECT_EQ(read_text(repo.root() / "victim.jsonl"), "keep me\n");
  EXPECT_FALSE(std::filesystem::exists(paths::archived_ledger(repo.root(), sha)));
}

}  // namespace
}  // namespace tamrik::synccore
