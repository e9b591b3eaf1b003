#include "platform/pg_connection.hpp"
#include "core/text.hpp"

#include <libpq-fe.h>

#include <charconv>
#include <iterator>

namespace tamrik::platform::pg {

namespace {

// Unless the URI says otherwise: a connection attempt gives up after 5 s,
// and a connection whose database stopped answering over TCP is found dead
// within about 25 s; either way the request gets 503 rather than hanging.
constexpr const char* kDefaultKeywords[] = {"connect_timeout", "keepalives_idle", "keepalives_interval",
                                            "keepalives_count"};
constexpr const char* kDefaultValues[] = {"5", "10", "5", "3"};

std::string trimmed(const char* message) {
  return std::string(core::trim_end(message != nullptr ? message : "", "\n "));
}

// Connection exceptions (class 08) and the server shutting down (57P01-03)
// mean the database is away, not that the statement was wrong.
bool means_unreachable(const char* sqlstate) {
  const std::string state = sqlstate != nullptr ? sqlstate : "";
  return state.starts_with("08") || state.starts_with("57P");
}

}  // namespace

std::string text_array(const std::vector<std::string>& items) {
  std::string literal = "{";
  for (const std::string& item : items) {
    if (literal.size() > 1) literal += ',';
    literal += '"';
    for (const char c : item) {
      if (c == '"' || c == '\\') literal += '\\';
      literal += c;
    }
    literal += '"';
  }
  return literal + "}";
}

std::string integer_array(const std::vector<long long>& items) {
  std::string literal = "{";
  for (const long long item : items) {
    if (literal.size() > 1) literal += ',';
    literal += std::to_string(item);
  }
  return literal + "}";
}

std::string optional_integer_array(const std::vector<std::optional<std::string>>& items) {
  std::string literal = "{";
  for (const std::optional<std::string>& item : items) {
    if (literal.size() > 1) literal += ',';
    literal += item.value_or("NULL");
  }
  return literal + "}";
}

Result::~Result() { PQclear(result_); }

int Result::rows() const { return PQntuples(result_); }

bool Result::is_null(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }

std::string Result::text(int row, int column) const {
  return std::string(PQgetvalue(result_, row, column), static_cast<size_t>(PQgetlength(result_, row, column)));
}

long long Result::integer(int row, int column) const {
  const char* value = PQgetvalue(result_, row, column);
  long long number = 0;
  std::from_chars(value, value + PQgetlength(result_, row, column), number);
  return number;
}

Connection::Connection(const std::string& uri) {
  // Keywords later in the list win, so the URI, given last, overrides the
  // defaults.
  std::vector<const char*> keywords(std::begin(kDefaultKeywords), std::end(kDefaultKeywords));
  std::vector<const char*> values(std::begin(kDefaultValues), std::end(kDefaultValues));
  keywords.insert(keywords.end(), {"dbname", nullptr});
  values.insert(values.end(), {uri.c_str(), nullptr});
  conn_ = PQconnectdbParams(keywords.data(), values.data(), 1);
  if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
    const std::string reason = conn_ != nullptr ? trimmed(PQerrorMessage(conn_)) : "out of memory";
    PQfinish(conn_);
    // The URI may carry a password: it is never repeated.
    throw StorageUnavailable("cannot connect to the PostgreSQL database: " + reason);
  }
  // Notices (a table that already exists, say) are not the server log's business.
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
}

Connection::~Connection() { PQfinish(conn_); }

bool Connection::unusable() const {
  return PQstatus(conn_) != CONNECTION_OK || PQtransactionStatus(conn_) != PQTRANS_IDLE;
}

Result Connection::checked(pg_result* result, const std::string& doing) {
  const ExecStatusType status = PQresultStatus(result);
  if (result != nullptr && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)) return Result(result);
  const std::string reason = trimmed(result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(conn_));
  const bool unreachable = PQstatus(conn_) != CONNECTION_OK ||
                           (result != nullptr && means_unreachable(PQresultErrorField(result, PG_DIAG_SQLSTATE)));
  PQclear(result);
  if (unreachable) throw StorageUnavailable("the PostgreSQL database is not reachable: " + reason);
  throw StorageError(doing + ": " + reason);
}

Result Connection::run(const std::string& sql, const Params& params) {
  auto prepared = prepared_.find(sql);
  if (prepared == prepared_.end()) {
    const std::string name = "s" + std::to_string(prepared_.size());
    checked(PQprepare(conn_, name.c_str(), sql.c_str(), 0, nullptr), "preparing a query");
    prepared = prepared_.emplace(sql, name).first;
  }
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const std::optional<std::string>& param : params) values.push_back(param ? param->c_str() : nullptr);
  return checked(PQexecPrepared(conn_, prepared->second.c_str(), static_cast<int>(values.size()), values.data(),
                                nullptr, nullptr, 0),
                 "running a query");
}

void Connection::exec(const std::string& sql) { checked(PQexec(conn_, sql.c_str()), "database statement failed"); }

Transaction::~Transaction() {
  if (committed_) return;
  try {
    connection_.exec("ROLLBACK");
  } catch (const std::exception&) {
    // A lost connection rolls back by itself; the pool drops it.
  }
}

}  // namespace tamrik::platform::pg
