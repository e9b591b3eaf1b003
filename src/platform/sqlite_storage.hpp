#pragma once
// The platform's database in one SQLite file in WAL mode: each call takes a
// connection of its own, and every write runs in one immediate transaction,
// so several processes may share the file.

#include "platform/storage.hpp"

#include <filesystem>
#include <mutex>

struct sqlite3;

namespace tamrik::platform {

class SqliteStorage : public Storage {
 public:
  // Opens (creating when missing) the database and migrates its schema.
  // Throws StorageError with SQLite's reason.
  explicit SqliteStorage(std::filesystem::path file);
  ~SqliteStorage() override;
  SqliteStorage(const SqliteStorage&) = delete;
  SqliteStorage& operator=(const SqliteStorage&) = delete;

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
  class Lease;
  Lease lease();

  std::filesystem::path file_;
  std::mutex mutex_;  // guards idle_
  std::vector<sqlite3*> idle_;
  std::mutex writers_;  // one write transaction at a time in this process
};

}  // namespace tamrik::platform
