#include "platform/sqlite_storage.hpp"

#include "core/time_text.hpp"
#include "platform/like_pattern.hpp"
#include "platform/listed_record.hpp"
#include "platform/record_richness.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <set>
#include <tuple>

namespace tamrik::platform {

namespace {

constexpr int kBusyWaitMs = 10'000;

[[noreturn]] void fail(sqlite3* db, const std::string& doing) {
  throw StorageError(doing + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

void exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(db, "database statement failed");
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) fail(db, "preparing a query");
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, long long value) {
    check(sqlite3_bind_int64(statement_, index, value));
    return *this;
  }
  // Text is bound without a copy, so it must outlive the statement's step:
  // temporaries are refused at compile time.
  Statement& bind(int index, std::string&& value) = delete;
  Statement& bind(int index, const std::string& value) {
    check(sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()), SQLITE_STATIC));
    return *this;
  }
  Statement& bind(int index, const std::optional<std::string>& value) {
    if (value) return bind(index, *value);
    check(sqlite3_bind_null(statement_, index));
    return *this;
  }
  Statement& bind(int index, const std::optional<int64_t>& value) {
    if (value) return bind(index, static_cast<long long>(*value));
    check(sqlite3_bind_null(statement_, index));
    return *this;
  }

  // True while rows come; false once the statement is done.
  bool step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    fail(db_, "running a query");
  }
  void reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

  long long integer(int column) const { return sqlite3_column_int64(statement_, column); }
  double real(int column) const { return sqlite3_column_double(statement_, column); }
  bool is_null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::string text(int column) const {
    const auto* bytes = sqlite3_column_text(statement_, column);
    return bytes == nullptr ? std::string()
                            : std::string(reinterpret_cast<const char*>(bytes),
                                          static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
  }

 private:
  void check(int result) {
    if (result != SQLITE_OK) fail(db_, "binding a query value");
  }

  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

// BEGIN IMMEDIATE takes the write lock up front, so two writers never both
// read and then fail to upgrade; the loser waits (busy timeout) instead.
// Writers of one server queue on `writers` first: SQLite's busy wait polls
// with growing sleeps and serves no one in turn, so under many clients a
// writer could wait out the whole timeout and fail its request while
// others went ahead. The busy timeout is left to other processes.
class Transaction {
 public:
  Transaction(sqlite3* db, std::mutex& writers) : queued_(writers), db_(db) { exec(db, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (!committed_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void commit() {
    exec(db_, "COMMIT");
    committed_ = true;
  }

 private:
  std::lock_guard<std::mutex> queued_;
  sqlite3* db_;
  bool committed_ = false;
};

sqlite3* open_connection(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    const std::string reason = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw StorageError("cannot open the database " + file.string() + ": " + reason);
  }
  try {
    sqlite3_busy_timeout(db, kBusyWaitMs);
    // An answered upload must survive a power cut: the client marks the
    // records synced and never sends them again.
    exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    // The dashboard's counts read a project's whole index: mapped, it is
    // read in place rather than copied page by page into each connection.
    exec(db, "PRAGMA mmap_size=268435456;");
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  return db;
}

bool has_column(sqlite3* db, const std::string& table, const std::string& column) {
  Statement columns(db, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2");
  columns.bind(1, table).bind(2, column);
  return columns.step();
}

// Version 1: projects and their records. A database of an earlier server
// (user_version 0) may hold these tables already, without the richness
// column: its records get one, empty (NULL), and their rank is read from
// the record when an upload of the same commit arrives.
void create_records(sqlite3* db) {
  exec(db, R"sql(
CREATE TABLE IF NOT EXISTS projects (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  remote TEXT NOT NULL UNIQUE,
  title TEXT NOT NULL,
  created_at TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS attestations (
  project_id INTEGER NOT NULL REFERENCES projects(id),
  commit_hash TEXT NOT NULL,
  record TEXT NOT NULL,
  session_id TEXT,
  stored_at TEXT NOT NULL,
  seq INTEGER NOT NULL,
  richness INTEGER,
  PRIMARY KEY (project_id, commit_hash)
);
CREATE INDEX IF NOT EXISTS attestations_by_seq ON attestations (project_id, seq);
CREATE TABLE IF NOT EXISTS supersessions (
  project_id INTEGER NOT NULL REFERENCES projects(id),
  commit_hash TEXT NOT NULL,
  superseded_by TEXT NOT NULL,
  PRIMARY KEY (project_id, commit_hash)
);
)sql");
  if (!has_column(db, "attestations", "richness")) exec(db, "ALTER TABLE attestations ADD COLUMN richness INTEGER");
}

// Version 2: teams, members and their keys; each project belongs to a team
// (those stored before to the default team), and a remote names one
// project per team. SQLite cannot change a table's constraints in place, so
// projects is copied into its new shape (foreign keys are off meanwhile).
void add_teams(sqlite3* db) {
  exec(db, R"sql(
CREATE TABLE teams (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT NOT NULL,
  created_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))
);
INSERT INTO teams (id, name) VALUES (1, 'default');
CREATE TABLE members (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT NOT NULL,
  created_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))
);
CREATE TABLE team_members (
  team_id INTEGER NOT NULL REFERENCES teams(id),
  member_id INTEGER NOT NULL REFERENCES members(id),
  PRIMARY KEY (team_id, member_id)
);
CREATE TABLE api_keys (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  member_id INTEGER NOT NULL REFERENCES members(id),
  key_hash TEXT NOT NULL UNIQUE,
  created_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))
);
CREATE TABLE projects_of_teams (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  team_id INTEGER NOT NULL REFERENCES teams(id),
  remote TEXT NOT NULL,
  title TEXT NOT NULL,
  created_at TEXT NOT NULL,
  UNIQUE (team_id, remote)
);
INSERT INTO projects_of_teams (id, team_id, remote, title, created_at)
  SELECT id, 1, remote, title, created_at FROM projects;
DROP TABLE projects;
ALTER TABLE projects_of_teams RENAME TO projects;
)sql");
}

constexpr const char* kPutFacts = R"sql(
  INSERT INTO record_facts (project_id, commit_hash, seq, made_at, week, branch, agent, model, developer,
                            task_type, kind, summary, tokens_input, tokens_output, tokens_cache)
  VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)
  ON CONFLICT (project_id, commit_hash) DO UPDATE SET
    seq = excluded.seq, made_at = excluded.made_at, week = excluded.week, branch = excluded.branch,
    agent = excluded.agent, model = excluded.model, developer = excluded.developer,
    task_type = excluded.task_type, kind = excluded.kind, summary = excluded.summary,
    tokens_input = excluded.tokens_input, tokens_output = excluded.tokens_output,
    tokens_cache = excluded.tokens_cache)sql";

// Stores the facts of the record just held for a commit (kPutFacts).
void put_facts(Statement& put, long long project_id, const std::string& commit, long long seq,
               const RecordFacts& facts) {
  const std::string kind = kind_name(facts.kind);
  const std::optional<int64_t> week = facts.made_at ? std::optional<int64_t>(week_of(*facts.made_at)) : std::nullopt;
  put.bind(1, project_id).bind(2, commit).bind(3, seq).bind(4, facts.made_at).bind(5, week);
  put.bind(6, facts.branch).bind(7, facts.agent).bind(8, facts.model).bind(9, facts.developer);
  put.bind(10, facts.task_type).bind(11, kind).bind(12, facts.summary);
  const auto count = [&](int64_t TokenTotals::*field) {
    return facts.tokens ? std::optional<int64_t>((*facts.tokens).*field) : std::nullopt;
  };
  const std::optional<int64_t> input = count(&TokenTotals::input), output = count(&TokenTotals::output),
                               cache = count(&TokenTotals::cache);
  put.bind(13, input).bind(14, output).bind(15, cache);
  put.step();
  put.reset();
}

// Version 3: what the dashboard lists and counts, read from each record
// once, in a narrow table its pages query without parsing records. Kept in
// order of storing, so a page (newest first, or a search through them all)
// reads it front to back; the indices cover the charts' counts.
void add_record_facts(sqlite3* db) {
  exec(db, R"sql(
CREATE TABLE record_facts (
  project_id INTEGER NOT NULL REFERENCES projects(id),
  commit_hash TEXT NOT NULL,
  seq INTEGER NOT NULL,
  made_at INTEGER,
  week INTEGER,
  branch TEXT NOT NULL,
  agent TEXT NOT NULL,
  model TEXT NOT NULL,
  developer TEXT NOT NULL,
  task_type TEXT NOT NULL,
  kind TEXT NOT NULL,
  summary TEXT NOT NULL,
  tokens_input INTEGER,
  tokens_output INTEGER,
  tokens_cache INTEGER,
  -- A database of an earlier server may hold two records with one seq.
  PRIMARY KEY (project_id, seq, commit_hash),
  UNIQUE (project_id, commit_hash)
) WITHOUT ROWID;
CREATE INDEX record_facts_by_week ON record_facts (project_id, week, agent, kind, commit_hash);
CREATE INDEX record_facts_by_model ON record_facts (project_id, week, model, tokens_input, tokens_output, tokens_cache, commit_hash);
)sql");
  Statement rows(db, "SELECT project_id, commit_hash, seq, record FROM attestations");
  Statement put(db, kPutFacts);
  while (rows.step()) {
    const std::optional<core::Json> record = core::parse_json(rows.text(3));
    put_facts(put, rows.integer(0), rows.text(1), rows.integer(2), record_facts(record.value_or(core::Json())));
  }
}

// The schema's versions in order; PRAGMA user_version holds how many of
// them a database has.
using Migration = void (*)(sqlite3*);
constexpr Migration kSqliteMigrations[] = {create_records, add_teams, add_record_facts};

long long schema_version(sqlite3* db) {
  Statement version(db, "PRAGMA user_version");
  version.step();
  return version.integer(0);
}

// Brings the schema up to this version once: the immediate transaction
// holds the write lock, so a second server starting on the same file waits
// and then finds nothing left to do. A database of a later version is
// refused rather than written in a shape it does not expect.
void migrate(sqlite3* db, const std::filesystem::path& file, std::mutex& writers) {
  // Only outside a transaction does this pragma take effect.
  exec(db, "PRAGMA foreign_keys=OFF");
  Transaction transaction(db, writers);
  const long long version = schema_version(db);
  const long long latest = static_cast<long long>(std::size(kSqliteMigrations));
  if (version > latest) {
    throw StorageError("the database " + file.string() + " has schema version " + std::to_string(version) +
                       ", newer than this server's " + std::to_string(latest) + "; run a newer tamrik-platform");
  }
  for (long long next = version; next < latest; ++next) kSqliteMigrations[next](db);
  exec(db, ("PRAGMA user_version = " + std::to_string(latest)).c_str());
  transaction.commit();
  exec(db, "PRAGMA foreign_keys=ON");
}

// The rank of the record held for a commit, nullopt when none is held.
std::optional<int> held_richness(Statement& held) {
  if (!held.step()) return std::nullopt;
  if (!held.is_null(0)) return static_cast<int>(held.integer(0));
  const std::optional<core::Json> record = core::parse_json(held.text(1));
  return record ? record_richness(*record) : 0;
}

}  // namespace

// A connection borrowed from the pool for one call.
class SqliteStorage::Lease {
 public:
  Lease(SqliteStorage& storage, sqlite3* db) : storage_(storage), db_(db) {}
  ~Lease() {
    const std::lock_guard lock(storage_.mutex_);
    storage_.idle_.push_back(db_);
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  sqlite3* get() const { return db_; }

 private:
  SqliteStorage& storage_;
  sqlite3* db_;
};

SqliteStorage::SqliteStorage(std::filesystem::path file) : file_(std::move(file)) {
  Lease db = lease();
  migrate(db.get(), file_, writers_);
}

SqliteStorage::~SqliteStorage() {
  for (sqlite3* db : idle_) sqlite3_close(db);
}

SqliteStorage::Lease SqliteStorage::lease() {
  {
    const std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      sqlite3* db = idle_.back();
      idle_.pop_back();
      return Lease(*this, db);
    }
  }
  return Lease(*this, open_connection(file_));
}

Resolution SqliteStorage::resolve_project(long long team_id, const std::string& remote, const std::string& title) {
  Lease db = lease();
  Transaction transaction(db.get(), writers_);
  Statement find(db.get(), "SELECT id, title FROM projects WHERE team_id = ?1 AND remote = ?2");
  find.bind(1, team_id).bind(2, remote);
  if (find.step()) {
    Resolution found{{find.integer(0), team_id, find.text(1), remote}, false};
    transaction.commit();
    return found;
  }
  Statement insert(db.get(), "INSERT INTO projects (team_id, remote, title, created_at) VALUES (?1, ?2, ?3, ?4)");
  const std::string now = core::utc_now_text();
  insert.bind(1, team_id).bind(2, remote).bind(3, title).bind(4, now);
  insert.step();
  const long long id = sqlite3_last_insert_rowid(db.get());
  transaction.commit();
  return {{id, team_id, title, remote}, true};
}

std::optional<Project> SqliteStorage::find_project(long long id) {
  Lease db = lease();
  Statement find(db.get(), "SELECT team_id, title, remote FROM projects WHERE id = ?1");
  find.bind(1, id);
  if (!find.step()) return std::nullopt;
  return Project{id, find.integer(0), find.text(1), find.text(2)};
}

size_t SqliteStorage::store_attestations(long long project_id, const std::vector<RecordToStore>& records,
                                         const std::optional<std::string>& session_id) {
  Lease db = lease();
  Transaction transaction(db.get(), writers_);
  Statement last(db.get(), "SELECT IFNULL(MAX(seq), 0) FROM attestations WHERE project_id = ?1");
  last.bind(1, project_id);
  last.step();
  long long seq = last.integer(0);

  Statement held(db.get(), R"sql(
    SELECT richness, CASE WHEN richness IS NULL THEN record END FROM attestations
    WHERE project_id = ?1 AND commit_hash = ?2)sql");
  Statement upsert(db.get(), R"sql(
    INSERT INTO attestations (project_id, commit_hash, record, session_id, stored_at, seq, richness)
    VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)
    ON CONFLICT (project_id, commit_hash) DO UPDATE SET
      record = excluded.record, session_id = excluded.session_id,
      stored_at = excluded.stored_at, seq = excluded.seq, richness = excluded.richness)sql");
  Statement put(db.get(), kPutFacts);
  Statement supersede(db.get(), R"sql(
    INSERT INTO supersessions (project_id, commit_hash, superseded_by) VALUES (?1, ?2, ?3)
    ON CONFLICT DO NOTHING)sql");
  const std::string now = core::utc_now_text();
  std::set<std::string> commits;
  for (const RecordToStore& record : records) {
    held.bind(1, project_id).bind(2, record.commit);
    const std::optional<int> stored = held_richness(held);
    held.reset();
    // A poorer record is accepted and changes nothing: the client may mark
    // it synced, since the platform holds more about that commit already.
    if (!stored || *stored <= record.richness) {
      upsert.bind(1, project_id).bind(2, record.commit).bind(3, record.record_json);
      upsert.bind(4, session_id).bind(5, now).bind(6, ++seq).bind(7, record.richness);
      upsert.step();
      upsert.reset();
      put_facts(put, project_id, record.commit, seq, record.facts);
    }
    // The rewrite is a fact about the commits whichever record is kept; a
    // record may arrive before or after the one that replaces it.
    for (const std::string& replaced : record.rewritten_from) {
      if (replaced == record.commit) continue;
      supersede.bind(1, project_id).bind(2, replaced).bind(3, record.commit);
      supersede.step();
      supersede.reset();
    }
    commits.insert(record.commit);
  }
  transaction.commit();
  return commits.size();
}

std::optional<std::vector<core::Json>> SqliteStorage::list_attestations(long long project_id, size_t limit,
                                                                        const std::optional<std::string>& after,
                                                                        bool include_superseded) {
  Lease db = lease();
  long long before_seq = std::numeric_limits<long long>::max();
  if (after) {
    Statement cursor(db.get(), "SELECT seq FROM attestations WHERE project_id = ?1 AND commit_hash = ?2");
    cursor.bind(1, project_id).bind(2, *after);
    if (!cursor.step()) return std::nullopt;
    before_seq = cursor.integer(0);
  }
  Statement rows(db.get(), R"sql(
    SELECT a.record, s.superseded_by FROM attestations a
    LEFT JOIN supersessions s ON s.project_id = a.project_id AND s.commit_hash = a.commit_hash
    WHERE a.project_id = ?1 AND a.seq < ?2 AND (?4 OR s.superseded_by IS NULL)
    ORDER BY a.seq DESC LIMIT ?3)sql");
  rows.bind(1, project_id).bind(2, before_seq).bind(3, static_cast<long long>(limit));
  rows.bind(4, include_superseded ? 1LL : 0LL);
  std::vector<core::Json> records;
  while (rows.step()) {
    const std::optional<std::string> superseded_by =
        rows.is_null(1) ? std::nullopt : std::optional<std::string>(rows.text(1));
    records.push_back(listed_record(rows.text(0), superseded_by));
  }
  return records;
}

std::vector<Project> SqliteStorage::projects_of_teams(const std::vector<long long>& team_ids) {
  Lease db = lease();
  Statement rows(db.get(), "SELECT id, team_id, title, remote FROM projects WHERE team_id = ?1 ORDER BY title, id");
  std::vector<Project> projects;
  for (const long long team : team_ids) {
    rows.bind(1, team);
    while (rows.step()) projects.push_back({rows.integer(0), rows.integer(1), rows.text(2), rows.text(3)});
    rows.reset();
  }
  std::sort(projects.begin(), projects.end(),
            [](const Project& a, const Project& b) { return std::tie(a.title, a.id) < std::tie(b.title, b.id); });
  return projects;
}

std::vector<RecordRow> SqliteStorage::find_records(long long project_id, const RecordQuery& query) {
  Lease db = lease();
  // A filter left out is NULL and matches every record.
  Statement rows(db.get(), R"sql(
    SELECT f.seq, f.commit_hash, f.made_at, f.branch, f.agent, f.model, f.developer, f.task_type, f.kind,
           f.summary, f.tokens_input, f.tokens_output, f.tokens_cache
    FROM record_facts f
    WHERE f.project_id = ?1 AND f.seq < ?2
      AND (?3 IS NULL OR f.agent LIKE ?3 ESCAPE '\')
      AND (?4 IS NULL OR f.model LIKE ?4 ESCAPE '\')
      AND (?5 IS NULL OR f.developer LIKE ?5 ESCAPE '\')
      AND (?6 IS NULL OR f.task_type LIKE ?6 ESCAPE '\')
      AND (?7 IS NULL OR f.summary LIKE ?7 ESCAPE '\')
      AND (?8 IS NULL OR f.made_at >= ?8)
      AND (?9 IS NULL OR f.made_at <= ?9)
      AND (?10 = 0 OR (?10 = 1) = (f.kind = 'attested'))
      AND NOT EXISTS (SELECT 1 FROM supersessions s
                      WHERE s.project_id = f.project_id AND s.commit_hash = f.commit_hash)
    ORDER BY f.seq DESC LIMIT ?11)sql");
  // LIKE, which folds ASCII case only, as `tamrik log` does, and copies
  // nothing per row: a search over every record stays a plain scan.
  const std::optional<std::string> agent = part_pattern(query.agent), model = part_pattern(query.model),
                                   developer = part_pattern(query.developer), task_type = part_pattern(query.task_type),
                                   summary = part_pattern(query.summary);
  rows.bind(1, project_id).bind(2, query.before.value_or(std::numeric_limits<long long>::max()));
  rows.bind(3, agent).bind(4, model).bind(5, developer).bind(6, task_type);
  rows.bind(7, summary).bind(8, query.since).bind(9, query.until);
  rows.bind(10, static_cast<long long>(query.attested)).bind(11, static_cast<long long>(query.limit));
  std::vector<RecordRow> found;
  while (rows.step()) {
    RecordRow row{rows.integer(0), rows.text(1), {}};
    RecordFacts& facts = row.facts;
    if (!rows.is_null(2)) facts.made_at = rows.integer(2);
    facts.branch = rows.text(3);
    facts.agent = rows.text(4);
    facts.model = rows.text(5);
    facts.developer = rows.text(6);
    facts.task_type = rows.text(7);
    facts.kind = kind_named(rows.text(8));
    facts.summary = rows.text(9);
    if (!rows.is_null(10)) facts.tokens = TokenTotals{rows.integer(10), rows.integer(11), rows.integer(12)};
    found.push_back(std::move(row));
  }
  return found;
}

std::optional<StoredRecord> SqliteStorage::stored_record(long long project_id, const std::string& commit) {
  Lease db = lease();
  Statement row(db.get(), R"sql(
    SELECT a.record, s.superseded_by FROM attestations a
    LEFT JOIN supersessions s ON s.project_id = a.project_id AND s.commit_hash = a.commit_hash
    WHERE a.project_id = ?1 AND a.commit_hash = ?2)sql");
  row.bind(1, project_id).bind(2, commit);
  if (!row.step()) return std::nullopt;
  return StoredRecord{row.text(0), row.is_null(1) ? std::nullopt : std::optional<std::string>(row.text(1))};
}

ProjectTotals SqliteStorage::project_totals(long long project_id) {
  Lease db = lease();
  ProjectTotals totals;
  Statement newest(db.get(), "SELECT MAX(week) FROM record_facts WHERE project_id = ?1");
  newest.bind(1, project_id).step();
  if (newest.is_null(0)) return totals;
  const long long first_week = newest.integer(0) - (kChartWeeks - 1) * kWeekSeconds;
  // Every record counted, less those superseded (few, found through their
  // own table): cheaper than asking of every record whether it is.
  Statement weeks(db.get(), R"sql(
    SELECT week, agent, SUM(commits), SUM(attested) FROM (
      SELECT week, agent, COUNT(*) AS commits, SUM(kind = 'attested') AS attested FROM record_facts
      WHERE project_id = ?1 AND week >= ?2 GROUP BY week, agent
      UNION ALL
      SELECT f.week, f.agent, -COUNT(*), -SUM(f.kind = 'attested') FROM supersessions s
      JOIN record_facts f ON f.project_id = s.project_id AND f.commit_hash = s.commit_hash
      WHERE s.project_id = ?1 AND f.week >= ?2 GROUP BY f.week, f.agent)
    GROUP BY week, agent HAVING SUM(commits) > 0 ORDER BY week, agent)sql");
  weeks.bind(1, project_id).bind(2, first_week);
  while (weeks.step()) totals.weeks.push_back({weeks.integer(0), weeks.text(1), weeks.integer(2), weeks.integer(3)});
  Statement models(db.get(), R"sql(
    SELECT model, SUM(commits), TOTAL(input), TOTAL(output), TOTAL(cache) FROM (
      SELECT model, COUNT(*) AS commits, TOTAL(tokens_input) AS input, TOTAL(tokens_output) AS output,
             TOTAL(tokens_cache) AS cache FROM record_facts
      WHERE project_id = ?1 AND week >= ?2 AND tokens_input IS NOT NULL GROUP BY model
      UNION ALL
      SELECT f.model, -COUNT(*), -TOTAL(f.tokens_input), -TOTAL(f.tokens_output), -TOTAL(f.tokens_cache)
      FROM supersessions s JOIN record_facts f ON f.project_id = s.project_id AND f.commit_hash = s.commit_hash
      WHERE s.project_id = ?1 AND f.week >= ?2 AND f.tokens_input IS NOT NULL GROUP BY f.model)
    GROUP BY model HAVING SUM(commits) > 0 ORDER BY model)sql");
  models.bind(1, project_id).bind(2, first_week);
  while (models.step()) {
    // TOTAL, not SUM: a sum past 2^63 is saturated instead of failing the page.
    totals.models.push_back(
        {models.text(0),
         models.integer(1),
         {count_of_sum(models.real(2)), count_of_sum(models.real(3)), count_of_sum(models.real(4))}});
  }
  return totals;
}

std::optional<Member> SqliteStorage::member_of_key(const std::string& key_hash) {
  Lease db = lease();
  Statement member(db.get(), R"sql(
    SELECT m.id, m.name FROM api_keys k JOIN members m ON m.id = k.member_id WHERE k.key_hash = ?1)sql");
  member.bind(1, key_hash);
  if (!member.step()) return std::nullopt;
  Member found{member.integer(0), member.text(1), {}};
  Statement teams(db.get(), "SELECT team_id FROM team_members WHERE member_id = ?1 ORDER BY team_id");
  teams.bind(1, found.id);
  while (teams.step()) found.team_ids.push_back(teams.integer(0));
  return found;
}

bool SqliteStorage::has_member_keys() {
  Lease db = lease();
  Statement any(db.get(), "SELECT 1 FROM api_keys LIMIT 1");
  return any.step();
}

long long SqliteStorage::add_team(const std::string& name) {
  Lease db = lease();
  Statement insert(db.get(), "INSERT INTO teams (name) VALUES (?1)");
  insert.bind(1, name).step();
  return sqlite3_last_insert_rowid(db.get());
}

long long SqliteStorage::add_member(const std::string& name, const std::vector<long long>& team_ids) {
  Lease db = lease();
  Transaction transaction(db.get(), writers_);
  Statement team(db.get(), "SELECT 1 FROM teams WHERE id = ?1");
  for (const long long id : team_ids) {
    team.bind(1, id);
    if (!team.step()) throw StorageError(missing_team(id));
    team.reset();
  }
  Statement insert(db.get(), "INSERT INTO members (name) VALUES (?1)");
  insert.bind(1, name).step();
  const long long member = sqlite3_last_insert_rowid(db.get());
  Statement join(db.get(), "INSERT OR IGNORE INTO team_members (team_id, member_id) VALUES (?1, ?2)");
  for (const long long id : team_ids) {
    join.bind(1, id).bind(2, member).step();
    join.reset();
  }
  transaction.commit();
  return member;
}

long long SqliteStorage::add_key(long long member_id, const std::string& key_hash) {
  Lease db = lease();
  Transaction transaction(db.get(), writers_);
  Statement member(db.get(), "SELECT 1 FROM members WHERE id = ?1");
  if (!member.bind(1, member_id).step()) throw StorageError(missing_member(member_id));
  Statement insert(db.get(), "INSERT INTO api_keys (member_id, key_hash) VALUES (?1, ?2)");
  insert.bind(1, member_id).bind(2, key_hash).step();
  const long long id = sqlite3_last_insert_rowid(db.get());
  transaction.commit();
  return id;
}

bool SqliteStorage::revoke_key(const std::string& key_hash) {
  Lease db = lease();
  Statement remove(db.get(), "DELETE FROM api_keys WHERE key_hash = ?1");
  remove.bind(1, key_hash).step();
  return sqlite3_changes(db.get()) > 0;
}

bool SqliteStorage::revoke_key_id(long long key_id) {
  Lease db = lease();
  Statement remove(db.get(), "DELETE FROM api_keys WHERE id = ?1");
  remove.bind(1, key_id).step();
  return sqlite3_changes(db.get()) > 0;
}

}  // namespace tamrik::platform
