#include "platform/postgres_storage.hpp"

#include "platform/listed_record.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string_view>
#include <unordered_map>

namespace tamrik::platform {

namespace {

// Connections one server process holds at most; requests beyond them wait.
constexpr size_t kMaxConnections = 16;
constexpr std::chrono::seconds kConnectionWait{10};

// Any fixed number: the key of the advisory lock the migration holds.
constexpr const char* kMigrationLock = "7351024891";

// The schema's versions in order; schema_version holds how many of them a
// database has.
constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE teams (
  id BIGSERIAL PRIMARY KEY,
  name TEXT NOT NULL,
  created_at TIMESTAMPTZ NOT NULL DEFAULT now()
);
INSERT INTO teams (name) VALUES ('default');
CREATE TABLE members (
  id BIGSERIAL PRIMARY KEY,
  name TEXT NOT NULL,
  created_at TIMESTAMPTZ NOT NULL DEFAULT now()
);
CREATE TABLE team_members (
  team_id BIGINT NOT NULL REFERENCES teams(id),
  member_id BIGINT NOT NULL REFERENCES members(id),
  PRIMARY KEY (team_id, member_id)
);
CREATE TABLE api_keys (
  id BIGSERIAL PRIMARY KEY,
  member_id BIGINT NOT NULL REFERENCES members(id),
  key_hash TEXT NOT NULL UNIQUE,
  created_at TIMESTAMPTZ NOT NULL DEFAULT now()
);
CREATE TABLE projects (
  id BIGSERIAL PRIMARY KEY,
  team_id BIGINT NOT NULL REFERENCES teams(id),
  remote TEXT NOT NULL,
  title TEXT NOT NULL,
  created_at TIMESTAMPTZ NOT NULL DEFAULT now(),
  UNIQUE (team_id, remote)
);
CREATE TABLE attestations (
  project_id BIGINT NOT NULL REFERENCES projects(id),
  commit_hash TEXT NOT NULL,
  record TEXT NOT NULL,
  session_id TEXT,
  stored_at TIMESTAMPTZ NOT NULL DEFAULT now(),
  seq BIGINT NOT NULL,
  richness INTEGER NOT NULL,
  PRIMARY KEY (project_id, commit_hash)
);
CREATE INDEX attestations_by_seq ON attestations (project_id, seq);
CREATE TABLE supersessions (
  project_id BIGINT NOT NULL REFERENCES projects(id),
  commit_hash TEXT NOT NULL,
  superseded_by TEXT NOT NULL,
  PRIMARY KEY (project_id, commit_hash)
);
)sql",
};

// Brings the schema up to this version once: the advisory lock, held to the
// end of the transaction, makes a second server starting at the same time
// wait and then find nothing left to do.
void migrate(pg::Connection& db) {
  pg::Transaction transaction(db);
  db.exec(std::string("SELECT pg_advisory_xact_lock(") + kMigrationLock + ")");
  db.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
  const pg::Result current = db.run("SELECT COALESCE(MAX(version), 0) FROM schema_version");
  const long long version = current.integer(0, 0);
  const long long latest = static_cast<long long>(std::size(kMigrations));
  if (version > latest) {
    throw StorageError("the database has schema version " + std::to_string(version) + ", newer than this server's " +
                       std::to_string(latest) + "; run a newer tamrik-platform");
  }
  for (long long next = version; next < latest; ++next) db.exec(kMigrations[next]);
  db.exec("DELETE FROM schema_version");
  db.run("INSERT INTO schema_version (version) VALUES ($1)", {std::to_string(latest)});
  transaction.commit();
}

std::string number(long long value) { return std::to_string(value); }

// The records a batch leaves held, in the order they are stored, as if they
// had come one by one: of two records of one commit the later replaces the
// earlier when it is at least as rich, and then counts as stored later.
std::vector<const RecordToStore*> kept_of(const std::vector<RecordToStore>& records) {
  std::unordered_map<std::string_view, size_t> kept;  // commit -> its record's place in `records`
  for (size_t i = 0; i < records.size(); ++i) {
    const auto [held, first] = kept.try_emplace(records[i].commit, i);
    if (!first && records[held->second].richness <= records[i].richness) held->second = i;
  }
  std::vector<size_t> places;
  places.reserve(kept.size());
  for (const auto& [commit, place] : kept) places.push_back(place);
  std::sort(places.begin(), places.end());
  std::vector<const RecordToStore*> ordered;
  ordered.reserve(places.size());
  for (const size_t place : places) ordered.push_back(&records[place]);
  return ordered;
}

}  // namespace

PostgresStorage::PostgresStorage(const std::string& uri)
    : pool_(uri, kMaxConnections, std::chrono::duration_cast<std::chrono::milliseconds>(kConnectionWait)) {
  const pg::Pool::Lease db = pool_.lease();
  migrate(*db);
}

Resolution PostgresStorage::resolve_project(long long team_id, const std::string& remote, const std::string& title) {
  const pg::Pool::Lease db = pool_.lease();
  // Two servers resolving one remote at once: the second insert waits for
  // the first and then does nothing, and the lookup finds the first's row.
  const pg::Result inserted = db->run(R"sql(
    INSERT INTO projects (team_id, remote, title) VALUES ($1, $2, $3)
    ON CONFLICT (team_id, remote) DO NOTHING RETURNING id)sql",
                                      {number(team_id), remote, title});
  if (inserted.rows() == 1) return {{inserted.integer(0, 0), team_id, title, remote}, true};
  const pg::Result found =
      db->run("SELECT id, title FROM projects WHERE team_id = $1 AND remote = $2", {number(team_id), remote});
  if (found.rows() != 1) throw StorageError("the project of " + remote + " vanished while it was resolved");
  return {{found.integer(0, 0), team_id, found.text(0, 1), remote}, false};
}

std::optional<Project> PostgresStorage::find_project(long long id) {
  const pg::Pool::Lease db = pool_.lease();
  const pg::Result found = db->run("SELECT team_id, title, remote FROM projects WHERE id = $1", {number(id)});
  if (found.rows() == 0) return std::nullopt;
  return Project{id, found.integer(0, 0), found.text(0, 1), found.text(0, 2)};
}

size_t PostgresStorage::store_attestations(long long project_id, const std::vector<RecordToStore>& records,
                                           const std::optional<std::string>& session_id) {
  const std::vector<const RecordToStore*> kept = kept_of(records);
  std::vector<std::string> commits, texts, replaced, replacements;
  std::vector<long long> richness;
  for (const RecordToStore* record : kept) {
    commits.push_back(record->commit);
    texts.push_back(record->record_json);
    richness.push_back(record->richness);
  }
  // The rewrite is a fact about the commits whichever record is kept.
  for (const RecordToStore& record : records) {
    for (const std::string& commit : record.rewritten_from) {
      if (commit == record.commit) continue;
      replaced.push_back(commit);
      replacements.push_back(record.commit);
    }
  }

  const pg::Pool::Lease db = pool_.lease();
  pg::Transaction transaction(*db);
  // Uploads to one project take turns from here on, whichever process
  // serves them: the sequence numbers they hand out stay in order of
  // commit, and the richer of two records of one commit is kept.
  db->run("SELECT 1 FROM projects WHERE id = $1 FOR UPDATE", {number(project_id)});
  const long long seq =
      db->run("SELECT COALESCE(MAX(seq), 0) FROM attestations WHERE project_id = $1", {number(project_id)}).integer(0, 0);
  // One statement for the batch. A poorer record is accepted and changes
  // nothing: the client may mark it synced, since the platform holds more
  // about that commit already.
  db->run(R"sql(
    INSERT INTO attestations (project_id, commit_hash, record, session_id, seq, richness)
    SELECT $1, t.commit_hash, t.record, $4, $5::bigint + t.n, t.richness
    FROM unnest($2::text[], $3::text[], $6::integer[]) WITH ORDINALITY AS t(commit_hash, record, richness, n)
    ON CONFLICT (project_id, commit_hash) DO UPDATE SET
      record = excluded.record, session_id = excluded.session_id,
      stored_at = excluded.stored_at, seq = excluded.seq, richness = excluded.richness
    WHERE attestations.richness <= excluded.richness)sql",
          {number(project_id), pg::text_array(commits), pg::text_array(texts), session_id, number(seq),
           pg::integer_array(richness)});
  if (!replaced.empty()) {
    // In the order named, so that the first replacement named stays.
    db->run(R"sql(
      INSERT INTO supersessions (project_id, commit_hash, superseded_by)
      SELECT $1, t.replaced, t.replacement
      FROM unnest($2::text[], $3::text[]) WITH ORDINALITY AS t(replaced, replacement, n) ORDER BY t.n
      ON CONFLICT DO NOTHING)sql",
            {number(project_id), pg::text_array(replaced), pg::text_array(replacements)});
  }
  transaction.commit();
  return kept.size();
}

std::optional<std::vector<core::Json>> PostgresStorage::list_attestations(long long project_id, size_t limit,
                                                                          const std::optional<std::string>& after,
                                                                          bool include_superseded) {
  const pg::Pool::Lease db = pool_.lease();
  long long before_seq = std::numeric_limits<long long>::max();
  if (after) {
    const pg::Result cursor =
        db->run("SELECT seq FROM attestations WHERE project_id = $1 AND commit_hash = $2", {number(project_id), *after});
    if (cursor.rows() == 0) return std::nullopt;
    before_seq = cursor.integer(0, 0);
  }
  const pg::Result rows = db->run(R"sql(
    SELECT a.record, s.superseded_by FROM attestations a
    LEFT JOIN supersessions s ON s.project_id = a.project_id AND s.commit_hash = a.commit_hash
    WHERE a.project_id = $1 AND a.seq < $2 AND ($4::boolean OR s.superseded_by IS NULL)
    ORDER BY a.seq DESC LIMIT $3)sql",
                                  {number(project_id), number(before_seq), number(static_cast<long long>(limit)),
                                   include_superseded ? "true" : "false"});
  std::vector<core::Json> records;
  for (int row = 0; row < rows.rows(); ++row) {
    const std::optional<std::string> superseded_by =
        rows.is_null(row, 1) ? std::nullopt : std::optional<std::string>(rows.text(row, 1));
    records.push_back(listed_record(rows.text(row, 0), superseded_by));
  }
  return records;
}

std::optional<Member> PostgresStorage::member_of_key(const std::string& key_hash) {
  const pg::Pool::Lease db = pool_.lease();
  const pg::Result member = db->run(R"sql(
    SELECT m.id, m.name FROM api_keys k JOIN members m ON m.id = k.member_id WHERE k.key_hash = $1)sql",
                                    {key_hash});
  if (member.rows() == 0) return std::nullopt;
  Member found{member.integer(0, 0), member.text(0, 1), {}};
  const pg::Result teams =
      db->run("SELECT team_id FROM team_members WHERE member_id = $1 ORDER BY team_id", {number(found.id)});
  for (int row = 0; row < teams.rows(); ++row) found.team_ids.push_back(teams.integer(row, 0));
  return found;
}

bool PostgresStorage::has_member_keys() {
  const pg::Pool::Lease db = pool_.lease();
  return db->run("SELECT 1 FROM api_keys LIMIT 1").rows() > 0;
}

long long PostgresStorage::add_team(const std::string& name) {
  const pg::Pool::Lease db = pool_.lease();
  return db->run("INSERT INTO teams (name) VALUES ($1) RETURNING id", {name}).integer(0, 0);
}

long long PostgresStorage::add_member(const std::string& name, const std::vector<long long>& team_ids) {
  const pg::Pool::Lease db = pool_.lease();
  pg::Transaction transaction(*db);
  for (const long long id : team_ids) {
    if (db->run("SELECT 1 FROM teams WHERE id = $1", {number(id)}).rows() == 0) throw StorageError(missing_team(id));
  }
  const long long member = db->run("INSERT INTO members (name) VALUES ($1) RETURNING id", {name}).integer(0, 0);
  for (const long long id : team_ids) {
    db->run("INSERT INTO team_members (team_id, member_id) VALUES ($1, $2) ON CONFLICT DO NOTHING",
            {number(id), number(member)});
  }
  transaction.commit();
  return member;
}

long long PostgresStorage::add_key(long long member_id, const std::string& key_hash) {
  const pg::Pool::Lease db = pool_.lease();
  pg::Transaction transaction(*db);
  if (db->run("SELECT 1 FROM members WHERE id = $1", {number(member_id)}).rows() == 0) {
    throw StorageError(missing_member(member_id));
  }
  const long long id = db->run("INSERT INTO api_keys (member_id, key_hash) VALUES ($1, $2) RETURNING id",
                               {number(member_id), key_hash})
                           .integer(0, 0);
  transaction.commit();
  return id;
}

bool PostgresStorage::revoke_key(const std::string& key_hash) {
  const pg::Pool::Lease db = pool_.lease();
  return db->run("DELETE FROM api_keys WHERE key_hash = $1 RETURNING id", {key_hash}).rows() > 0;
}

bool PostgresStorage::revoke_key_id(long long key_id) {
  const pg::Pool::Lease db = pool_.lease();
  return db->run("DELETE FROM api_keys WHERE id = $1 RETURNING id", {number(key_id)}).rows() > 0;
}

}  // namespace tamrik::platform
