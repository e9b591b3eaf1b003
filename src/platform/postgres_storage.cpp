#include "platform/postgres_storage.hpp"

#include "platform/like_pattern.hpp"
#include "platform/listed_record.hpp"

#include <algorithm>
#include <cstdlib>
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
constexpr const char* kPostgresMigrations[] = {
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
    // What the dashboard lists and counts, read from each record once, in a
    // narrow table its pages query without parsing records; the indices
    // cover the charts' counts. Filled from the stored records by
    // fill_record_facts.
    R"sql(
CREATE TABLE record_facts (
  project_id BIGINT NOT NULL REFERENCES projects(id),
  commit_hash TEXT NOT NULL,
  seq BIGINT NOT NULL,
  made_at BIGINT,
  week BIGINT,
  branch TEXT NOT NULL,
  agent TEXT NOT NULL,
  model TEXT NOT NULL,
  developer TEXT NOT NULL,
  task_type TEXT NOT NULL,
  kind TEXT NOT NULL,
  summary TEXT NOT NULL,
  tokens_input BIGINT,
  tokens_output BIGINT,
  tokens_cache BIGINT,
  PRIMARY KEY (project_id, commit_hash)
);
CREATE INDEX record_facts_by_seq ON record_facts (project_id, seq);
CREATE INDEX record_facts_by_week ON record_facts (project_id, week, agent, kind, commit_hash);
CREATE INDEX record_facts_by_model ON record_facts (project_id, week, model, tokens_input, tokens_output, tokens_cache, commit_hash);
)sql",
};

// The schema version that added record_facts: a database below it has
// records whose facts are read when it migrates.
constexpr long long kRecordFactsVersion = 2;
constexpr long long kFillBatch = 1000;

std::string number(long long value) { return std::to_string(value); }

std::optional<std::string> optional_number(const std::optional<int64_t>& value) {
  return value ? std::optional<std::string>(number(*value)) : std::nullopt;
}

// The facts of records just held, one statement for a batch: only the
// rows whose record holds the seq given are written, so a record that lost
// to a richer one keeps the facts of the one held.
void put_facts(pg::Connection& db, long long project_id, const std::vector<std::string>& commits,
               const std::vector<long long>& seqs, const std::vector<const RecordFacts*>& facts) {
  std::vector<std::string> branches, agents, models, developers, task_types, kinds, summaries;
  std::vector<std::optional<std::string>> made, weeks, input, output, cache;
  for (const RecordFacts* each : facts) {
    made.push_back(optional_number(each->made_at));
    weeks.push_back(each->made_at ? std::optional<std::string>(number(week_of(*each->made_at))) : std::nullopt);
    branches.push_back(each->branch);
    agents.push_back(each->agent);
    models.push_back(each->model);
    developers.push_back(each->developer);
    task_types.push_back(each->task_type);
    kinds.push_back(kind_name(each->kind));
    summaries.push_back(each->summary);
    input.push_back(each->tokens ? std::optional<std::string>(number(each->tokens->input)) : std::nullopt);
    output.push_back(each->tokens ? std::optional<std::string>(number(each->tokens->output)) : std::nullopt);
    cache.push_back(each->tokens ? std::optional<std::string>(number(each->tokens->cache)) : std::nullopt);
  }
  db.run(R"sql(
    INSERT INTO record_facts (project_id, commit_hash, seq, made_at, week, branch, agent, model, developer,
                              task_type, kind, summary, tokens_input, tokens_output, tokens_cache)
    SELECT $1, t.commit_hash, t.seq, t.made_at, t.week, t.branch, t.agent, t.model, t.developer,
           t.task_type, t.kind, t.summary, t.tokens_input, t.tokens_output, t.tokens_cache
    FROM unnest($2::text[], $3::bigint[], $4::bigint[], $5::bigint[], $6::text[], $7::text[], $8::text[],
                $9::text[], $10::text[], $11::text[], $12::text[], $13::bigint[], $14::bigint[], $15::bigint[])
      AS t(commit_hash, seq, made_at, week, branch, agent, model, developer, task_type, kind, summary,
           tokens_input, tokens_output, tokens_cache)
    JOIN attestations a ON a.project_id = $1 AND a.commit_hash = t.commit_hash AND a.seq = t.seq
    ON CONFLICT (project_id, commit_hash) DO UPDATE SET
      seq = excluded.seq, made_at = excluded.made_at, week = excluded.week, branch = excluded.branch,
      agent = excluded.agent, model = excluded.model, developer = excluded.developer,
      task_type = excluded.task_type, kind = excluded.kind, summary = excluded.summary,
      tokens_input = excluded.tokens_input, tokens_output = excluded.tokens_output,
      tokens_cache = excluded.tokens_cache)sql",
         {number(project_id), pg::text_array(commits), pg::integer_array(seqs), pg::optional_integer_array(made),
          pg::optional_integer_array(weeks), pg::text_array(branches), pg::text_array(agents), pg::text_array(models),
          pg::text_array(developers), pg::text_array(task_types), pg::text_array(kinds), pg::text_array(summaries),
          pg::optional_integer_array(input), pg::optional_integer_array(output), pg::optional_integer_array(cache)});
}

// Reads the facts of every record stored before record_facts existed, a
// batch at a time in key order.
void fill_record_facts(pg::Connection& db) {
  long long after_project = 0;
  std::string after_commit;
  for (;;) {
    const pg::Result rows = db.run(R"sql(
      SELECT project_id, commit_hash, seq, record FROM attestations
      WHERE (project_id, commit_hash) > ($1, $2) ORDER BY project_id, commit_hash LIMIT $3)sql",
                                   {number(after_project), after_commit, number(kFillBatch)});
    if (rows.rows() == 0) return;
    for (int row = 0; row < rows.rows();) {
      const long long project = rows.integer(row, 0);
      std::vector<std::string> commits;
      std::vector<long long> seqs;
      std::vector<RecordFacts> facts;
      for (; row < rows.rows() && rows.integer(row, 0) == project; ++row) {
        commits.push_back(rows.text(row, 1));
        seqs.push_back(rows.integer(row, 2));
        facts.push_back(record_facts(core::parse_json(rows.text(row, 3)).value_or(core::Json())));
      }
      std::vector<const RecordFacts*> pointers;
      for (const RecordFacts& each : facts) pointers.push_back(&each);
      put_facts(db, project, commits, seqs, pointers);
      after_project = project;
      after_commit = commits.back();
    }
  }
}

// Brings the schema up to this version once: the advisory lock, held to the
// end of the transaction, makes a second server starting at the same time
// wait and then find nothing left to do.
void migrate(pg::Connection& db) {
  pg::Transaction transaction(db);
  db.exec(std::string("SELECT pg_advisory_xact_lock(") + kMigrationLock + ")");
  db.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
  const pg::Result current = db.run("SELECT COALESCE(MAX(version), 0) FROM schema_version");
  const long long version = current.integer(0, 0);
  const long long latest = static_cast<long long>(std::size(kPostgresMigrations));
  if (version > latest) {
    throw StorageError("the database has schema version " + std::to_string(version) + ", newer than this server's " +
                       std::to_string(latest) + "; run a newer tamrik-platform");
  }
  for (long long next = version; next < latest; ++next) db.exec(kPostgresMigrations[next]);
  if (version < kRecordFactsVersion) fill_record_facts(db);
  db.exec("DELETE FROM schema_version");
  db.run("INSERT INTO schema_version (version) VALUES ($1)", {std::to_string(latest)});
  transaction.commit();
}

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
  std::vector<const RecordFacts*> facts;
  for (const RecordToStore* record : kept) {
    commits.push_back(record->commit);
    texts.push_back(record->record_json);
    richness.push_back(record->richness);
    facts.push_back(&record->facts);
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
      db->run("SELECT COALESCE(MAX(seq), 0) FROM attestations WHERE project_id = $1", {number(project_id)})
          .integer(0, 0);
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
  std::vector<long long> seqs;
  for (size_t n = 1; n <= kept.size(); ++n) seqs.push_back(seq + static_cast<long long>(n));
  put_facts(*db, project_id, commits, seqs, facts);
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
    const pg::Result cursor = db->run("SELECT seq FROM attestations WHERE project_id = $1 AND commit_hash = $2",
                                      {number(project_id), *after});
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

std::vector<Project> PostgresStorage::projects_of_teams(const std::vector<long long>& team_ids) {
  const pg::Pool::Lease db = pool_.lease();
  const pg::Result rows = db->run(
      "SELECT id, team_id, title, remote FROM projects WHERE team_id = ANY($1::bigint[]) ORDER BY title COLLATE \"C\", "
      "id",
      {pg::integer_array(team_ids)});
  std::vector<Project> projects;
  for (int row = 0; row < rows.rows(); ++row) {
    projects.push_back({rows.integer(row, 0), rows.integer(row, 1), rows.text(row, 2), rows.text(row, 3)});
  }
  return projects;
}

std::vector<RecordRow> PostgresStorage::find_records(long long project_id, const RecordQuery& query) {
  const pg::Pool::Lease db = pool_.lease();
  // A filter left out is NULL and matches every record.
  const pg::Result rows =
      db->run(R"sql(
    SELECT f.seq, f.commit_hash, f.made_at, f.branch, f.agent, f.model, f.developer, f.task_type, f.kind,
           f.summary, f.tokens_input, f.tokens_output, f.tokens_cache
    FROM record_facts f
    WHERE f.project_id = $1 AND f.seq < $2
      AND ($3::text IS NULL OR f.agent ILIKE $3)
      AND ($4::text IS NULL OR f.model ILIKE $4)
      AND ($5::text IS NULL OR f.developer ILIKE $5)
      AND ($6::text IS NULL OR f.task_type ILIKE $6)
      AND ($7::text IS NULL OR f.summary ILIKE $7)
      AND ($8::bigint IS NULL OR f.made_at >= $8)
      AND ($9::bigint IS NULL OR f.made_at <= $9)
      AND ($10::integer = 0 OR ($10::integer = 1) = (f.kind = 'attested'))
      AND NOT EXISTS (SELECT 1 FROM supersessions s
                      WHERE s.project_id = f.project_id AND s.commit_hash = f.commit_hash)
    ORDER BY f.seq DESC LIMIT $11)sql",
              {number(project_id), number(query.before.value_or(std::numeric_limits<long long>::max())),
               part_pattern(query.agent), part_pattern(query.model), part_pattern(query.developer),
               part_pattern(query.task_type), part_pattern(query.summary), optional_number(query.since),
               optional_number(query.until), number(static_cast<long long>(query.attested)),
               number(static_cast<long long>(query.limit))});
  std::vector<RecordRow> found;
  for (int row = 0; row < rows.rows(); ++row) {
    RecordRow listed{rows.integer(row, 0), rows.text(row, 1), {}};
    RecordFacts& facts = listed.facts;
    if (!rows.is_null(row, 2)) facts.made_at = rows.integer(row, 2);
    facts.branch = rows.text(row, 3);
    facts.agent = rows.text(row, 4);
    facts.model = rows.text(row, 5);
    facts.developer = rows.text(row, 6);
    facts.task_type = rows.text(row, 7);
    facts.kind = kind_named(rows.text(row, 8));
    facts.summary = rows.text(row, 9);
    if (!rows.is_null(row, 10)) {
      facts.tokens = TokenTotals{rows.integer(row, 10), rows.integer(row, 11), rows.integer(row, 12)};
    }
    found.push_back(std::move(listed));
  }
  return found;
}

std::optional<StoredRecord> PostgresStorage::stored_record(long long project_id, const std::string& commit) {
  const pg::Pool::Lease db = pool_.lease();
  const pg::Result row = db->run(R"sql(
    SELECT a.record, s.superseded_by FROM attestations a
    LEFT JOIN supersessions s ON s.project_id = a.project_id AND s.commit_hash = a.commit_hash
    WHERE a.project_id = $1 AND a.commit_hash = $2)sql",
                                 {number(project_id), commit});
  if (row.rows() == 0) return std::nullopt;
  return StoredRecord{row.text(0, 0), row.is_null(0, 1) ? std::nullopt : std::optional<std::string>(row.text(0, 1))};
}

ProjectTotals PostgresStorage::project_totals(long long project_id) {
  const pg::Pool::Lease db = pool_.lease();
  ProjectTotals totals;
  const pg::Result newest = db->run("SELECT MAX(week) FROM record_facts WHERE project_id = $1", {number(project_id)});
  if (newest.is_null(0, 0)) return totals;
  const long long first_week = newest.integer(0, 0) - (kChartWeeks - 1) * kWeekSeconds;
  // Every record counted, less those superseded (few, found through their
  // own table): cheaper than asking of every record whether it is.
  const pg::Result weeks = db->run(R"sql(
    SELECT week, agent, SUM(commits), SUM(attested) FROM (
      SELECT week, agent, COUNT(*) AS commits, COUNT(*) FILTER (WHERE kind = 'attested') AS attested
      FROM record_facts WHERE project_id = $1 AND week >= $2 GROUP BY week, agent
      UNION ALL
      SELECT f.week, f.agent, -COUNT(*), -COUNT(*) FILTER (WHERE f.kind = 'attested') FROM supersessions s
      JOIN record_facts f ON f.project_id = s.project_id AND f.commit_hash = s.commit_hash
      WHERE s.project_id = $1 AND f.week >= $2 GROUP BY f.week, f.agent) AS counted
    GROUP BY week, agent HAVING SUM(commits) > 0 ORDER BY week, agent COLLATE "C")sql",
                                   {number(project_id), number(first_week)});
  for (int row = 0; row < weeks.rows(); ++row) {
    totals.weeks.push_back({weeks.integer(row, 0), weeks.text(row, 1), weeks.integer(row, 2), weeks.integer(row, 3)});
  }
  // Sums as real numbers: a sum past 2^63 is saturated instead of failing the page.
  const pg::Result models = db->run(R"sql(
    SELECT model, SUM(commits), SUM(input)::float8, SUM(output)::float8, SUM(cache)::float8 FROM (
      SELECT model, COUNT(*) AS commits, SUM(tokens_input) AS input, SUM(tokens_output) AS output,
             SUM(tokens_cache) AS cache FROM record_facts
      WHERE project_id = $1 AND week >= $2 AND tokens_input IS NOT NULL GROUP BY model
      UNION ALL
      SELECT f.model, -COUNT(*), -SUM(f.tokens_input), -SUM(f.tokens_output), -SUM(f.tokens_cache)
      FROM supersessions s JOIN record_facts f ON f.project_id = s.project_id AND f.commit_hash = s.commit_hash
      WHERE s.project_id = $1 AND f.week >= $2 AND f.tokens_input IS NOT NULL GROUP BY f.model) AS counted
    GROUP BY model HAVING SUM(commits) > 0 ORDER BY model COLLATE "C")sql",
                                    {number(project_id), number(first_week)});
  const auto sum = [&models](int row, int column) {
    return count_of_sum(std::strtod(models.text(row, column).c_str(), nullptr));
  };
  for (int row = 0; row < models.rows(); ++row) {
    totals.models.push_back({models.text(row, 0), models.integer(row, 1), {sum(row, 2), sum(row, 3), sum(row, 4)}});
  }
  return totals;
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
  const long long id =
      db->run("INSERT INTO api_keys (member_id, key_hash) VALUES ($1, $2) RETURNING id", {number(member_id), key_hash})
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
