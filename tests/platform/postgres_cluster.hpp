#pragma once
// A throwaway PostgreSQL cluster for the platform tests: one per test
// binary, in a temporary directory, listening only on a unix socket there,
// started on first use and removed with everything in it at the end.
//
// A platform test runs against PostgreSQL when TAMRIK_TEST_DB=postgresql.
// When the cluster cannot start those tests fail; they are skipped, with
// the reason printed, only when the PostgreSQL server programs are not
// installed and CI is not "true".

#include <memory>
#include <string>
#include <vector>

namespace tamrik::testing {

// Whether this run tests the PostgreSQL backend (TAMRIK_TEST_DB).
bool postgres_selected();

class PostgresCluster {
 public:
  // The cluster of this test binary, started on the first call. Throws
  // std::runtime_error with initdb's or the server's output when it cannot
  // start.
  static PostgresCluster& shared();
  // Stops and removes the shared cluster, if one was started.
  static void remove_shared();

  ~PostgresCluster();
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  // The URI of a new, empty database.
  std::string new_database();

  // Stops the server (keeping its files) and starts it again: a database
  // that goes away and comes back.
  void stop();
  void start();

 private:
  PostgresCluster();
  std::string run_as_owner(const std::vector<std::string>& argv) const;

  std::string bin_;
  std::string dir_;
  int databases_ = 0;
};

// Registers the gtest environment that starts the shared cluster before the
// tests (always, or only when postgres_selected()) and removes it after.
void register_postgres_environment(bool always);

}  // namespace tamrik::testing
