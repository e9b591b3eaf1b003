#pragma once
// Child processes of a load run, all carrying one environment marker that
// every descendant inherits: git, the hooks git runs, and the uploads those
// hooks detach. The marker is how the run knows that everything it set off,
// however far it was detached, has finished.

#include "support/test_env.hpp"

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace tamrik::testing {

class MarkedProcesses {
 public:
  MarkedProcesses();

  // Starts `sh -c script sh args...` with the marker in its environment.
  pid_t start_shell(const std::string& script, const std::vector<std::string>& args);
  // The exit code of a child started here (128 + signal when killed).
  static int wait_exit(pid_t pid);

  // The marker's name and value, to pass to children started elsewhere.
  std::pair<std::string, std::string> marker() const { return {kName, value_}; }

  // Waits until no process but this one carries the marker; false when
  // some still do after `limit`.
  bool wait_until_all_gone(std::chrono::seconds limit) const;
  // Kills every process but this one that carries the marker.
  void kill_all() const;

 private:
  static constexpr const char* kName = "TAMRIK_LOAD_RUN";
  std::string value_;
};

}  // namespace tamrik::testing
