#pragma once
// A thin RAII layer over libpq: one connection, its results, the statements
// it has prepared, and a transaction that rolls back unless committed.
// Failures throw StorageUnavailable when the database cannot be reached (the
// connection is then broken for good) and StorageError otherwise.

#include "platform/storage.hpp"

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct pg_conn;
struct pg_result;

namespace tamrik::platform::pg {

// Statement parameters, sent as text; nullopt is SQL NULL.
using Params = std::vector<std::optional<std::string>>;

// A parameter holding a list, as PostgreSQL reads an array in text form
// (cast it in the statement: $2::text[]).
std::string text_array(const std::vector<std::string>& items);
std::string integer_array(const std::vector<long long>& items);
std::string optional_integer_array(const std::vector<std::optional<std::string>>& items);  // nullopt is NULL

class Result {
 public:
  explicit Result(pg_result* result) : result_(result) {}
  ~Result();
  Result(Result&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
  Result& operator=(Result&&) = delete;
  Result(const Result&) = delete;

  int rows() const;
  bool is_null(int row, int column) const;
  std::string text(int row, int column) const;
  long long integer(int row, int column) const;

 private:
  pg_result* result_;
};

class Connection {
 public:
  // Connects to the database a libpq URI names. Throws StorageUnavailable.
  explicit Connection(const std::string& uri);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs one statement, prepared on this connection the first time it runs.
  Result run(const std::string& sql, const Params& params = {});
  // Runs statements without parameters (several, separated by semicolons).
  void exec(const std::string& sql);

  // Whether the connection is lost or left inside a transaction: either way
  // it must not serve another request.
  bool unusable() const;

 private:
  Result checked(pg_result* result, const std::string& doing);

  pg_conn* conn_;
  std::unordered_map<std::string, std::string> prepared_;  // sql -> statement name
};

class Transaction {
 public:
  explicit Transaction(Connection& connection) : connection_(connection) { connection.exec("BEGIN"); }
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void commit() {
    connection_.exec("COMMIT");
    committed_ = true;
  }

 private:
  Connection& connection_;
  bool committed_ = false;
};

}  // namespace tamrik::platform::pg
