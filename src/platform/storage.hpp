#pragma once
// The platform's database: projects and their attestation records, in one
// SQLite file in WAL mode. Safe to use from many threads, and from several
// processes on the same file: each call takes a connection of its own, and
// every write runs in one immediate transaction.

#include "core/errors.hpp"
#include "core/json.hpp"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace tamrik::platform {

class StorageError : public core::Error {
 public:
  explicit StorageError(const std::string& message) : core::Error("StorageError", message) {}
};

struct Project {
  long long id = 0;
  std::string title;
  std::string remote;  // normalised
};

struct Resolution {
  Project project;
  bool created = false;
};

struct RecordToStore {
  std::string commit;
  std::string record_json;  // the record as received, compact
  int richness = 0;         // record_richness of the record
  std::vector<std::string> rewritten_from;  // commits this one replaces
};

class Storage {
 public:
  // Opens (creating when missing) the database and its tables. Throws
  // StorageError with SQLite's reason.
  explicit Storage(std::filesystem::path file);
  ~Storage();
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  // The project of a normalised remote, created (titled `title`) when new.
  Resolution resolve_project(const std::string& remote, const std::string& title);
  std::optional<Project> find_project(long long id);

  // Stores each record under (project, commit), all or nothing, replacing
  // a stored one unless that is richer (record_richness), and marks the
  // commits each names in `rewritten_from` superseded by it (the first
  // replacement named stays). Returns the number of distinct commits whose
  // record is held, stored now or already richer.
  size_t store_attestations(long long project_id, const std::vector<RecordToStore>& records,
                            const std::optional<std::string>& session_id);

  // Stored records, most recently stored first, at most `limit`; with
  // `after`, those stored before that commit's record. Superseded records
  // are left out unless `include_superseded`; those listed carry
  // `superseded_by`. nullopt when `after` names no stored record.
  std::optional<std::vector<core::Json>> list_attestations(long long project_id, size_t limit,
                                                           const std::optional<std::string>& after,
                                                           bool include_superseded);

 private:
  class Lease;
  Lease lease();

  std::filesystem::path file_;
  std::mutex mutex_;
  std::vector<sqlite3*> idle_;
};

}  // namespace tamrik::platform
