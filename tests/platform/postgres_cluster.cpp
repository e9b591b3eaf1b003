#include "platform/postgres_cluster.hpp"

#include "support/test_env.hpp"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <glob.h>
#include <stdexcept>

namespace tamrik::testing {

namespace {

// The user that owns the cluster: initdb refuses to run as root.
constexpr const char* kServiceUser = "postgres";

// The directory of initdb, pg_ctl and postgres; empty when not installed.
std::string server_binaries() {
  const CommandResult config = run_command({"pg_config", "--bindir"});
  std::string dir = config.exit_code == 0 ? config.out.substr(0, config.out.find('\n')) : "";
  if (!dir.empty() && fs::exists(fs::path(dir) / "initdb")) return dir;
  glob_t found{};
  if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
    dir = fs::path(found.gl_pathv[found.gl_pathc - 1]).parent_path().string();
  } else {
    dir.clear();
  }
  globfree(&found);
  return dir;
}

std::unique_ptr<PostgresCluster>& shared_slot() {
  static std::unique_ptr<PostgresCluster> cluster;
  return cluster;
}

class PostgresEnvironment : public ::testing::Environment {
 public:
  explicit PostgresEnvironment(bool always) : always_(always) {}

  void SetUp() override {
    if (!always_ && !postgres_selected()) return;
    const char* ci = std::getenv("CI");
    if (server_binaries().empty() && (ci == nullptr || std::string(ci) != "true")) {
      GTEST_SKIP() << "PostgreSQL tests skipped: the PostgreSQL server programs (initdb, pg_ctl) are not "
                      "installed; run scripts/install-deps";
    }
    try {
      PostgresCluster::shared();
    } catch (const std::exception& e) {
      FAIL() << "cannot start a PostgreSQL cluster for the tests: " << e.what();
    }
  }
  void TearDown() override { PostgresCluster::remove_shared(); }

 private:
  bool always_;
};

}  // namespace

bool postgres_selected() {
  const char* backend = std::getenv("TAMRIK_TEST_DB");
  return backend != nullptr && std::string(backend) == "postgresql";
}

PostgresCluster& PostgresCluster::shared() {
  std::unique_ptr<PostgresCluster>& cluster = shared_slot();
  if (!cluster) cluster.reset(new PostgresCluster());
  return *cluster;
}

void PostgresCluster::remove_shared() { shared_slot().reset(); }

PostgresCluster::PostgresCluster() : bin_(server_binaries()) {
  if (bin_.empty()) throw std::runtime_error("the PostgreSQL server programs are not installed");
  std::string dir = (fs::temp_directory_path() / "tamrik-pg-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = dir;
  if (geteuid() == 0) {
    const passwd* owner = getpwnam(kServiceUser);
    if (owner == nullptr || chown(dir_.c_str(), owner->pw_uid, owner->pw_gid) != 0) {
      fs::remove_all(dir_);
      throw std::runtime_error("running as root, and cannot hand a directory to the user postgres");
    }
  }
  try {
    run_as_owner({bin_ + "/initdb", "-D", dir_ + "/data", "-U", "postgres", "-A", "trust", "-E", "UTF8", "--locale=C",
                  "--no-sync"});
    start();
  } catch (...) {
    fs::remove_all(dir_);
    throw;
  }
}

PostgresCluster::~PostgresCluster() {
  try {
    stop();
  } catch (const std::exception&) {
    // Removing the directory below ends a server that did not stop.
  }
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

std::string PostgresCluster::run_as_owner(const std::vector<std::string>& argv) const {
  std::vector<std::string> command;
  if (geteuid() == 0) command = {"runuser", "-u", kServiceUser, "--"};
  command.insert(command.end(), argv.begin(), argv.end());
  const CommandResult result = run_command(command);
  if (result.exit_code != 0) throw std::runtime_error(argv.front() + " failed: " + result.out);
  return result.out;
}

void PostgresCluster::start() {
  // Durability is not under test: without fsync the cluster starts and
  // answers faster.
  run_as_owner({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-l", dir_ + "/server.log", "-w", "-t", "60", "-o",
                "-k " + dir_ + " -c listen_addresses='' -c fsync=off -c full_page_writes=off", "start"});
}

void PostgresCluster::stop() {
  run_as_owner({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-m", "fast", "-w", "-t", "60", "stop"});
}

std::string PostgresCluster::new_database() {
  const std::string name = "platform" + std::to_string(++databases_);
  const std::string admin = "postgresql://postgres@/postgres?host=" + dir_;
  PGconn* conn = PQconnectdb(admin.c_str());
  PGresult* created = PQexec(conn, ("CREATE DATABASE " + name).c_str());
  const bool ok = PQresultStatus(created) == PGRES_COMMAND_OK;
  const std::string reason = PQerrorMessage(conn);
  PQclear(created);
  PQfinish(conn);
  if (!ok) throw std::runtime_error("cannot create a test database: " + reason);
  return "postgresql://postgres@/" + name + "?host=" + dir_;
}

void register_postgres_environment(bool always) {
  ::testing::AddGlobalTestEnvironment(new PostgresEnvironment(always));
}

}  // namespace tamrik::testing
