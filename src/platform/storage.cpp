#include "platform/storage.hpp"

#include "core/time_text.hpp"

#include <sqlite3.h>

#include <limits>
#include <set>

namespace tamrik::platform {

namespace {

constexpr int kBusyWaitMs = 10'000;

constexpr const char* kSchema = R"sql(
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
  PRIMARY KEY (project_id, commit_hash)
);
CREATE INDEX IF NOT EXISTS attestations_by_seq ON attestations (project_id, seq);
)sql";

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

}  // namespace

// A connection borrowed from the pool for one call.
class Storage::Lease {
 public:
  Lease(Storage& storage, sqlite3* db) : storage_(storage), db_(db) {}
  ~Lease() {
    const std::lock_guard lock(storage_.mutex_);
    storage_.idle_.push_back(db_);
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  sqlite3* get() const { return db_; }

 private:
  Storage& storage_;
  sqlite3* db_;
};

Storage::Storage(std::filesystem::path file) : file_(std::move(file)) {
  Lease db = lease();
  Transaction transaction(db.get());
  exec(db.get(), kSchema);
  transaction.commit();
}

Storage::~Storage() {
  for (sqlite3* db : idle_) sqlite3_close(db);
}

Storage::Lease Storage::lease() {
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

Resolution Storage::resolve_project(const std::string& remote, const std::string& title) {
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

std::optional<Project> Storage::find_project(long long id) {
  Lease db = lease();
  Statement find(db.get(), "SELECT title, remote FROM projects WHERE id = ?1");
  find.bind(1, id);
  if (!find.step()) return std::nullopt;
  return Project{id, find.text(0), find.text(1)};
}

size_t Storage::store_attestations(long long project_id, const std::vector<RecordToStore>& records,
                                   const std::optional<std::string>& session_id) {
  Lease db = lease();
  Transaction transaction(db.get());
  Statement last(db.get(), "SELECT IFNULL(MAX(seq), 0) FROM attestations WHERE project_id = ?1");
  last.bind(1, project_id);
  last.step();
  long long seq = last.integer(0);

  Statement upsert(db.get(), R"sql(
    INSERT INTO attestations (project_id, commit_hash, record, session_id, stored_at, seq)
    VALUES (?1, ?2, ?3, ?4, ?5, ?6)
    ON CONFLICT (project_id, commit_hash) DO UPDATE SET
      record = excluded.record, session_id = excluded.session_id,
      stored_at = excluded.stored_at, seq = excluded.seq)sql");
  const std::string now = core::utc_now_text();
  std::set<std::string> commits;
  for (const RecordToStore& record : records) {
    upsert.bind(1, project_id).bind(2, record.commit).bind(3, record.record_json);
    upsert.bind(4, session_id).bind(5, now).bind(6, ++seq);
    upsert.step();
    upsert.reset();
    commits.insert(record.commit);
  }
  transaction.commit();
  return commits.size();
}

std::optional<std::vector<core::Json>> Storage::list_attestations(long long project_id, size_t limit,
                                                                  const std::optional<std::string>& after) {
  Lease db = lease();
  long long before_seq = std::numeric_limits<long long>::max();
  if (after) {
    Statement cursor(db.get(), "SELECT seq FROM attestations WHERE project_id = ?1 AND commit_hash = ?2");
    cursor.bind(1, project_id).bind(2, *after);
    if (!cursor.step()) return std::nullopt;
    before_seq = cursor.integer(0);
  }
  Statement rows(db.get(), R"sql(
    SELECT record FROM attestations WHERE project_id = ?1 AND seq < ?2
    ORDER BY seq DESC LIMIT ?3)sql");
  rows.bind(1, project_id).bind(2, before_seq).bind(3, static_cast<long long>(limit));
  std::vector<core::Json> records;
  while (rows.step()) records.push_back(core::parse_json_or_throw(rows.text(0)));
  return records;
}

}  // namespace tamrik::platform
