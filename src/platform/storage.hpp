#pragma once
// The platform's database as the routes see it: projects and their
// attestation records. Two implementations (a SQLite file, a PostgreSQL
// database) keep the same rules; open_storage picks one from --db.
// Implementations are safe to use from many threads and from several
// server processes on one database.

#include "core/errors.hpp"
#include "core/json.hpp"
#include "platform/record_facts.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::platform {

class StorageError : public core::Error {
 public:
  explicit StorageError(const std::string& message) : core::Error("StorageError", message) {}
};

// The database cannot be reached now (gone, restarting, every connection
// busy); the request may succeed when tried again.
class StorageUnavailable : public core::Error {
 public:
  explicit StorageUnavailable(const std::string& message) : core::Error("StorageUnavailable", message) {}
};

// The team the keys given to `serve` belong to, and every project stored
// before there were teams.
inline constexpr long long kDefaultTeamId = 1;

struct Project {
  long long id = 0;
  long long team_id = kDefaultTeamId;
  std::string title;
  std::string remote;  // normalised
};

struct Resolution {
  Project project;
  bool created = false;
};

struct RecordToStore {
  std::string commit;
  std::string record_json;                  // the record as received, compact
  int richness = 0;                         // record_richness of the record
  std::vector<std::string> rewritten_from;  // commits this one replaces
  RecordFacts facts;                        // record_facts of the record
};

// A member of teams, known by one of its API keys.
struct Member {
  long long id = 0;
  std::string name;
  std::vector<long long> team_ids;  // ascending
};

// Which stored records a dashboard page lists: the filters of `tamrik log`
// and a search in summaries. Each text filter matches when it is part of
// the value, case aside.
enum class AttestedFilter { any, attested, unattested };  // unattested includes skipped

struct RecordQuery {
  std::optional<std::string> agent;
  std::optional<std::string> model;
  std::optional<std::string> developer;  // name or email
  std::optional<std::string> task_type;
  std::optional<std::string> summary;
  std::optional<int64_t> since;  // seconds since the epoch, both ends included; a record
  std::optional<int64_t> until;  // without a readable timestamp is outside every range
  AttestedFilter attested = AttestedFilter::any;
  std::optional<long long> before;  // a page's cursor: records stored before this seq
  size_t limit = 50;
};

// A stored record as lists show it, newest stored first.
struct RecordRow {
  long long seq = 0;
  std::string commit;
  RecordFacts facts;
};

struct StoredRecord {
  std::string record_json;
  std::optional<std::string> superseded_by;
};

// A project's records counted for its charts (superseded ones left out),
// over the kChartWeeks weeks up to the week of its newest record.
inline constexpr int64_t kChartWeeks = 26;
struct WeekOfAgent {
  int64_t week = 0;  // week_of() of the records' timestamps
  std::string agent;
  long long commits = 0;
  long long attested = 0;
};
struct TokensOfModel {
  std::string model;
  long long commits = 0;  // those reporting tokens
  TokenTotals tokens;
};
struct ProjectTotals {
  std::vector<WeekOfAgent> weeks;     // by week, then agent
  std::vector<TokensOfModel> models;  // by model
};

class Storage {
 public:
  virtual ~Storage() = default;

  // The team's project of a normalised remote, created (titled `title`)
  // when new. Two teams resolving one remote get a project each.
  virtual Resolution resolve_project(long long team_id, const std::string& remote, const std::string& title) = 0;
  virtual std::optional<Project> find_project(long long id) = 0;

  // Stores each record under (project, commit), all or nothing, replacing
  // a stored one unless that is richer (record_richness), and marks the
  // commits each names in `rewritten_from` superseded by it (the first
  // replacement named stays). Returns the number of distinct commits whose
  // record is held, stored now or already richer.
  virtual size_t store_attestations(long long project_id, const std::vector<RecordToStore>& records,
                                    const std::optional<std::string>& session_id) = 0;

  // Stored records, most recently stored first, at most `limit`; with
  // `after`, those stored before that commit's record. Superseded records
  // are left out unless `include_superseded`; those listed carry
  // `superseded_by`. nullopt when `after` names no stored record.
  virtual std::optional<std::vector<core::Json>> list_attestations(long long project_id, size_t limit,
                                                                   const std::optional<std::string>& after,
                                                                   bool include_superseded) = 0;

  // The projects of these teams, by title.
  virtual std::vector<Project> projects_of_teams(const std::vector<long long>& team_ids) = 0;
  // The records a query picks, newest stored first; superseded ones left out.
  virtual std::vector<RecordRow> find_records(long long project_id, const RecordQuery& query) = 0;
  virtual std::optional<StoredRecord> stored_record(long long project_id, const std::string& commit) = 0;
  virtual ProjectTotals project_totals(long long project_id) = 0;

  // Teams, their members and the members' keys, stored as their SHA-256
  // (key_hash), never in clear. Adding to a team or member that does not
  // exist throws StorageError.
  virtual std::optional<Member> member_of_key(const std::string& key_hash) = 0;
  virtual bool has_member_keys() = 0;
  virtual long long add_team(const std::string& name) = 0;
  virtual long long add_member(const std::string& name, const std::vector<long long>& team_ids) = 0;
  virtual long long add_key(long long member_id, const std::string& key_hash) = 0;
  // Whether a key was there to revoke.
  virtual bool revoke_key(const std::string& key_hash) = 0;
  virtual bool revoke_key_id(long long key_id) = 0;
};

// What to tell an administrator who named a team or member that is not
// there.
std::string missing_team(long long id);
std::string missing_member(long long id);

// Opens the database `--db` names, creating its tables or bringing them up
// to this version's schema: a postgresql:// or postgres:// URI selects
// PostgreSQL, anything else is a SQLite file (created when missing).
std::unique_ptr<Storage> open_storage(const std::string& db);

}  // namespace tamrik::platform
