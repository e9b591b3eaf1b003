#pragma once
// Runs the built `tamrik` executable the way git and agent harnesses do: in
// a given directory, with given stdin, environment changes, and stdout and
// stderr kept apart (hook paths promise a silent or exact stdout).

#include "support/test_env.hpp"

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace tamrik::testing {

// The executable under test (set by the build).
fs::path tamrik_binary();

struct TamrikRun {
  fs::path program = tamrik_binary();  // another program that drives tamrik, at times
  std::vector<std::string> args;
  fs::path cwd;
  std::string input;  // written to stdin, which is then closed
  // Set (or, with an empty value, unset) in the child's environment.
  std::vector<std::pair<std::string, std::string>> env;
};

struct TamrikResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

TamrikResult run_tamrik(const TamrikRun& run);

// `tamrik` running while the test talks to it line by line, as an agent
// harness talks to the tool server. `run.input` is not used; stderr goes to
// `stderr_file`. Destroyed while running, the process is killed.
class TamrikProcess {
 public:
  TamrikProcess(const TamrikRun& run, const fs::path& stderr_file);
  ~TamrikProcess();
  TamrikProcess(const TamrikProcess&) = delete;
  TamrikProcess& operator=(const TamrikProcess&) = delete;

  void write(const std::string& text);
  // The next line of stdout without its line break; nullopt at its end or
  // when nothing came for 30 s (the process is stuck: the test fails, not hangs).
  std::optional<std::string> read_line();
  // Closes stdin, reads stdout to its end and returns the exit code, with
  // what stdout still held in `out`.
  TamrikResult finish();

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffered_;
};

}  // namespace tamrik::testing
