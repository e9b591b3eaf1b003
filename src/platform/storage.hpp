#pragma once
// The platform's database as the routes see it: projects and their
// attestation records. Two implementations (a SQLite file, a PostgreSQL
// database) keep the same rules; open_storage picks one from --db.
// Implementations are safe to use from many threads and from several
// server processes on one database.

#include "core/errors.hpp"
#include "core/json.hpp"

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
  virtual ~Storage() = default;

  // The project of a normalised remote, created (titled `title`) when new.
  virtual Resolution resolve_project(const std::string& remote, const std::string& title) = 0;
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
};

// Opens the database `--db` names, creating its tables or bringing them up
// to this version's schema: a postgresql:// or postgres:// URI selects
// PostgreSQL, anything else is a SQLite file (created when missing).
std::unique_ptr<Storage> open_storage(const std::string& db);

}  // namespace tamrik::platform
