#pragma once
// A tamrik-platform server started by a test on a free loopback port.

#include "support/test_env.hpp"

#include <signal.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tamrik::testing {

// The built server binary (set by the build).
std::string platform_binary();

// A new, empty database of the backend under test: a file in `dir`, or a
// database in the test binary's PostgreSQL cluster.
std::string fresh_database(const fs::path& dir);

struct PlatformOptions {
  std::vector<std::string> api_keys = {"test-key-0123456789"};
  std::optional<fs::path> context_dir;
  // A SQLite file or a PostgreSQL URI; when unset, a fresh database of the
  // backend under test (a file in the process's directory, or a new
  // database in the test binary's PostgreSQL cluster).
  std::optional<std::string> db;
  std::vector<std::pair<std::string, std::string>> env;  // added to the server's environment
  std::vector<std::string> args;                         // added to the serve command line
};

class PlatformProcess {
 public:
  // Starts the server and waits for its "listening on" line. Throws
  // std::runtime_error with the server's log when it does not come up.
  explicit PlatformProcess(PlatformOptions options = {});
  ~PlatformProcess();
  PlatformProcess(const PlatformProcess&) = delete;
  PlatformProcess& operator=(const PlatformProcess&) = delete;

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  const std::string& db() const { return db_; }
  const std::string& key() const { return options_.api_keys.at(0); }

  // Sends `signal` and waits; returns the exit code (128 + signal if killed).
  int stop(int signal = SIGTERM);
  // What the server wrote to stderr so far.
  std::string log() const;

 private:
  PlatformOptions options_;
  TempDir dir_;
  std::string db_;
  pid_t pid_ = -1;
  int port_ = 0;
  int stdout_fd_ = -1;
};

}  // namespace tamrik::testing
