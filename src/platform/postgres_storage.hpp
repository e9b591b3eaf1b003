#pragma once
// The platform's database in PostgreSQL, shared by any number of server
// processes: each call runs on a pooled connection, writes to one project
// run one at a time (the project's row is locked), and the schema is
// migrated once under an advisory lock.

#include "platform/pg_pool.hpp"
#include "platform/storage.hpp"

namespace tamrik::platform {

class PostgresStorage : public Storage {
 public:
  // Connects to the database the libpq URI names and migrates its schema.
  // Throws StorageUnavailable or StorageError.
  explicit PostgresStorage(const std::string& uri);

  Resolution resolve_project(long long team_id, const std::string& remote, const std::string& title) override;
  std::optional<Project> find_project(long long id) override;
  size_t store_attestations(long long project_id, const std::vector<RecordToStore>& records,
                            const std::optional<std::string>& session_id) override;
  std::optional<std::vector<core::Json>> list_attestations(long long project_id, size_t limit,
                                                           const std::optional<std::string>& after,
                                                           bool include_superseded) override;
  std::vector<Project> projects_of_teams(const std::vector<long long>& team_ids) override;
  std::vector<RecordRow> find_records(long long project_id, const RecordQuery& query) override;
  std::optional<StoredRecord> stored_record(long long project_id, const std::string& commit) override;
  ProjectTotals project_totals(long long project_id) override;
  std::optional<Member> member_of_key(const std::string& key_hash) override;
  bool has_member_keys() override;
  long long add_team(const std::string& name) override;
  long long add_member(const std::string& name, const std::vector<long long>& team_ids) override;
  long long add_key(long long member_id, const std::string& key_hash) override;
  bool revoke_key(const std::string& key_hash) override;
  bool revoke_key_id(long long key_id) override;

 private:
  pg::Pool pool_;
};

}  // namespace tamrik::platform
