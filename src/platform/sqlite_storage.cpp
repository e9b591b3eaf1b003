#include "platform/sqlite_storage.hpp"

#include "core/time_text.hpp"
#include "platform/listed_record.hpp"
#include "platform/record_richness.hpp"

#include <sqlite3.h>

#include <iterator>
#include <limits>
#include <set>

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
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { exec(db, "BEGIN IMMEDIATE"); }
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

// The schema's versions in order; PRAGMA user_version holds how many of
// them a database has.
using Migration = void (*)(sqlite3*);
constexpr Migration kMigrations[] = {create_records};

long long schema_version(sqlite3* db) {
  Statement version(db, "PRAGMA user_version");
  version.step();
  return version.integer(0);
}

// Brings the schema up to this version once: the immediate transaction
// holds the write lock, so a second server starting on the same file waits
// and then finds nothing left to do. A database of a later version is
// refused rather than written in a shape it does not expect.
void migrate(sqlite3* db, const std::filesystem::path& file) {
  Transaction transaction(db);
  const long long version = schema_version(db);
  const long long latest = static_cast<long long>(std::size(kMigrations));
  if (version > latest) {
    throw StorageError("the database " + file.string() + " has schema version " + std::to_string(version) +
                       ", newer than this server's " + std::to_string(latest) + "; run a newer tamrik-platform");
  }
  for (long long next = version; next < latest; ++next) kMigrations[next](db);
  exec(db, ("PRAGMA user_version = " + std::to_string(latest)).c_str());
  transaction.commit();
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
  migrate(db.get(), file_);
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

Resolution SqliteStorage::resolve_project(const std::string& remote, const std::string& title) {
  Lease db = lease();
  Transaction transaction(db.get());
  Statement find(db.get(), "SELECT id, title FROM projects WHERE remote = ?1");
  find.bind(1, remote);
  if (find.step()) {
    Resolution found{{find.integer(0), find.text(1), remote}, false};
    transaction.commit();
    return found;
  }
  Statement insert(db.get(), "INSERT INTO projects (remote, title, created_at) VALUES (?1, ?2, ?3)");
  const std::string now = core::utc_now_text();
  insert.bind(1, remote).bind(2, title).bind(3, now);
  insert.step();
  const long long id = sqlite3_last_insert_rowid(db.get());
  transaction.commit();
  return {{id, title, remote}, true};
}

std::optional<Project> SqliteStorage::find_project(long long id) {
  Lease db = lease();
  Statement find(db.get(), "SELECT title, remote FROM projects WHERE id = ?1");
  find.bind(1, id);
  if (!find.step()) return std::nullopt;
  return Project{id, find.text(0), find.text(1)};
}

size_t SqliteStorage::store_attestations(long long project_id, const std::vector<RecordToStore>& records,
                                   const std::optional<std::string>& session_id) {
  Lease db = lease();
  Transaction transaction(db.get());
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

}  // namespace tamrik::platform
