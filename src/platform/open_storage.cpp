#include "platform/postgres_storage.hpp"
#include "platform/sqlite_storage.hpp"
#include "platform/storage.hpp"

namespace tamrik::platform {

std::unique_ptr<Storage> open_storage(const std::string& db) {
  if (db.starts_with("postgresql://") || db.starts_with("postgres://")) {
    return std::make_unique<PostgresStorage>(db);
  }
  return std::make_unique<SqliteStorage>(db);
}

}  // namespace tamrik::platform
