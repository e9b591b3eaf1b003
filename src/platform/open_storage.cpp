#include "platform/postgres_storage.hpp"
#include "platform/sqlite_storage.hpp"
#include "platform/storage.hpp"

namespace tamrik::platform {

std::string missing_team(long long id) {
  return "there is no team " + std::to_string(id) + "; add one with `tamrik-platform teams add NAME`";
}

std::string missing_member(long long id) {
  return "there is no member " + std::to_string(id) + "; add one with `tamrik-platform members add NAME --team ID`";
}

std::unique_ptr<Storage> open_storage(const std::string& db) {
  if (db.starts_with("postgresql://") || db.starts_with("postgres://")) {
    return std::make_unique<PostgresStorage>(db);
  }
  return std::make_unique<SqliteStorage>(db);
}

}  // namespace tamrik::platform
