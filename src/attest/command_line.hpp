#pragma once
// How a command plugs into the host's command line: parsing picks one
// command and leaves it ready to run; the host runs it and exits with its
// status. A usage error found while running (a combination of options the
// parser cannot judge) goes back to the host, which shows the command's
// usage with the message and exits with status 2.

#include "core/errors.hpp"

#include <functional>

namespace CLI {
class App;
}

namespace tamrik::attest {

struct SelectedCommand {
  const CLI::App* app = nullptr;  // whose usage line a usage error shows
  std::function<int()> run;       // returns the exit status
};

class UsageError : public core::Error {
 public:
  explicit UsageError(const std::string& message) : Error("UsageError", message) {}
};

}  // namespace tamrik::attest
