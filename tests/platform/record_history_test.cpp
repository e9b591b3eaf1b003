// tamrik-platform over HTTP: which upload of a commit it keeps, the records
// rewritten history replaced, and a database of the earlier schema.

#include "platform/platform_client.hpp"

#include <sqlite3.h>

#include <map>
#include <stdexcept>

namespace tamrik::testing {
namespace {

using core::Json;

// A record as a clone uploads it: each carries its commit's archived
// document as `attestation`; one recorded without an attestation says so in
// `event`.
Json record(const std::string& commit, const std::string& agent, bool attested, const std::string& summary = "s") {
  Json sent = {{"commit", commit},
               {"agent", agent},
               {"summary", summary},
               {"attestation", {{"agent", agent}, {"summary", summary}}}};
  if (!attested) sent["event"] = "commit_unattested";
  return sent;
}

class RecordHistory : public PlatformClientTest {
 protected:
  using PlatformClientTest::PlatformClientTest;

  Answer upload(const std::vector<Json>& records) {
    return post(attestations(id_), Json{{"attestations", Json(records)}});
  }

  // The listed records, newest first.
  Json listing(const std::string& query = "") {
    return get(attestations(id_) + "?limit=1000" + (query.empty() ? "" : "&" + query)).body["attestations"];
  }
  std::vector<std::string> commits_listed(const std::string& query = "") {
    std::vector<std::string> commits;
    for (const Json& listed : listing(query)) commits.push_back(listed["commit"]);
    return commits;
  }
  Json listed(const std::string& commit, const std::string& query = "") {
    for (const Json& listed : listing(query)) {
      if (listed["commit"] == commit) return listed;
    }
    return nullptr;
  }

  long long id_ = project("git@example.com:acme/history.git");
};

TEST_F(RecordHistory, RicherRecordsWinAndPoorerOnesStillCountAsAccepted) {
  Json sent = record("a", "claude-code", true, "by alice");
  sent["synced"] = false;  // the client's flag does not outlive the upload
  ASSERT_EQ(upload({sent}).body["inserted"], 1);
  EXPECT_FALSE(listed("a").contains("synced"));
  // A teammate's clone sends a bare record of the same commit with one of its own.
  const Answer bare = upload({record("a", "unknown", false, "bare"), record("b", "unknown", false, "bare")});
  EXPECT_EQ(bare.status, 200);
  EXPECT_EQ(bare.body["inserted"], 2);
  EXPECT_EQ(listed("a")["summary"], "by alice");
  EXPECT_EQ(commits_listed(), (std::vector<std::string>{"b", "a"}));  // the kept record stays where it was

  upload({record("b", "codex", false, "named")});
  upload({record("b", "", false, "nameless")});
  EXPECT_EQ(listed("b")["summary"], "named");
  upload({record("b", "unknown", true, "attested, agent unknown")});
  EXPECT_EQ(listed("b")["summary"], "attested, agent unknown");
  upload({record("a", "claude-code", true, "amended words")});  // among equals the later wins
  EXPECT_EQ(listed("a")["summary"], "amended words");

  // Record by record within one batch too.
  EXPECT_EQ(upload({record("c", "codex", true, "first"), record("c", "unknown", false, "second")}).body["inserted"], 1);
  EXPECT_EQ(listed("c")["summary"], "first");
}

TEST_F(RecordHistory, RewrittenCommitsAreSupersededInEitherOrderOfArrival) {
  upload({record("old1", "codex", true), record("old2", "codex", true)});
  Json squashed = record("new", "codex", true);
  squashed["rewritten_from"] = {"old1", "old2", "new"};  // naming itself changes nothing
  squashed["attestations"] = Json::array({{{"summary", "one"}}, {{"summary", "two"}}});
  ASSERT_EQ(upload({squashed}).body["inserted"], 1);

  EXPECT_EQ(commits_listed(), std::vector<std::string>{"new"});
  EXPECT_EQ(listed("new"), squashed);  // stored and returned as given
  EXPECT_EQ(commits_listed("include_superseded=1"), (std::vector<std::string>{"new", "old2", "old1"}));
  EXPECT_EQ(listed("old1", "include_superseded=1")["superseded_by"], "new");
  EXPECT_EQ(listed("old2", "include_superseded=1")["superseded_by"], "new");

  // The replaced commit's record arrives after the one naming it.
  Json amended = record("amended", "codex", true);
  amended["rewritten_from"] = {"before-amend"};
  upload({amended});
  upload({record("before-amend", "codex", true)});
  EXPECT_EQ(commits_listed(), (std::vector<std::string>{"amended", "new"}));
  EXPECT_EQ(listed("before-amend", "include_superseded=1")["superseded_by"], "amended");

  // A second rewrite of the same commit leaves the first replacement named.
  Json picked = record("picked", "codex", true);
  picked["rewritten_from"] = {"old1"};
  upload({picked});
  EXPECT_EQ(listed("old1", "include_superseded=1")["superseded_by"], "new");

  for (const Json& bad : {Json("old1"), Json::array({1}), Json::array({""})}) {
    Json sent = record("broken", "codex", true);
    sent["rewritten_from"] = bad;
    EXPECT_EQ(error_code(upload({sent})), "bad_record") << bad.dump();
  }
  EXPECT_EQ(listed("broken", "include_superseded=1"), nullptr);
  EXPECT_EQ(get(attestations(id_) + "?include_superseded=yes").status, 400);
}

// A database file as the previous version of the server left it.
struct EarlierDatabase {
  EarlierDatabase() {
    sqlite3* db = nullptr;
    const std::string sql = R"sql(
      CREATE TABLE projects (id INTEGER PRIMARY KEY AUTOINCREMENT, remote TEXT NOT NULL UNIQUE,
                             title TEXT NOT NULL, created_at TEXT NOT NULL);
      CREATE TABLE attestations (project_id INTEGER NOT NULL REFERENCES projects(id), commit_hash TEXT NOT NULL,
                                 record TEXT NOT NULL, session_id TEXT, stored_at TEXT NOT NULL,
                                 seq INTEGER NOT NULL, PRIMARY KEY (project_id, commit_hash));
      CREATE INDEX attestations_by_seq ON attestations (project_id, seq);
      INSERT INTO projects VALUES (1, 'example.com/acme/history', 'history', '2024-01-01T00:00:00Z');
      INSERT INTO attestations VALUES (1, 'kept', ')sql" +
                            core::to_json_compact(record("kept", "claude-code", true, "by alice")) + R"sql(',
                                       NULL, '2024-01-01T00:00:00Z', 1);
      INSERT INTO attestations VALUES (1, 'plain', ')sql" +
                            core::to_json_compact(record("plain", "unknown", false)) + R"sql(',
                                       NULL, '2024-01-01T00:00:00Z', 2);)sql";
    const bool written = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                         sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (!written) throw std::runtime_error("cannot write the earlier database");
  }
  TempDir dir;
  fs::path file = dir / "platform.sqlite";
};

class EarlierSchema : private EarlierDatabase, public RecordHistory {
 protected:
  EarlierSchema() : RecordHistory(PlatformOptions{.db = file.string()}) {}
  const fs::path& database() const { return file; }
};

TEST_F(EarlierSchema, ADatabaseOfThePreviousVersionKeepsWorking) {
  ASSERT_EQ(id_, 1);  // the stored project, found again
  EXPECT_EQ(
      upload({record("kept", "unknown", false, "bare"), record("plain", "codex", false, "named")}).body["inserted"], 2);
  EXPECT_EQ(listed("kept")["summary"], "by alice");
  EXPECT_EQ(listed("plain")["summary"], "named");
  Json amended = record("amended", "claude-code", true);
  amended["rewritten_from"] = {"kept"};
  upload({amended});
  EXPECT_EQ(commits_listed(), (std::vector<std::string>{"amended", "plain"}));
  EXPECT_EQ(project("git@example.com:acme/later.git"), 2);  // ids go on from the stored ones

  // Opened again once migrated, by a second server on the same file.
  PlatformProcess again(PlatformOptions{.db = database().string()});
  httplib::Client client("127.0.0.1", again.port());
  const Answer reread = answer_of(client.Get(attestations(1), {{"Authorization", "Bearer " + again.key()}}));
  EXPECT_EQ(reread.status, 200);
  EXPECT_EQ(reread.body["attestations"].size(), 2u);
}

}  // namespace
}  // namespace tamrik::testing
