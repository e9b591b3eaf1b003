#pragma once
// Test fixtures: temporary directories and throwaway git repositories.
// Self-contained (no tamrik code), so any test binary can link it whatever
// library it tests.

#include <sys/types.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace tamrik::testing {

namespace fs = std::filesystem;

// A fresh directory under the test run's temporary root, removed on
// destruction unless TAMRIK_KEEP_TEST_DIRS is set.
// This test run's own directory under /tmp: the test HOME and every TempDir
// live in it, and the test main removes it when the run ends.
fs::path run_root();

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

struct CommandResult {
  int exit_code = -1;
  std::string out;  // stdout and stderr together
};

// Runs argv (no shell) in `cwd`, capturing output.
CommandResult run_command(const std::vector<std::string>& argv, const fs::path& cwd = {});

// A child process: its program and arguments (argv[0] is looked up on PATH
// when it holds no '/'), its standard streams (stdin -1: /dev/null;
// stdout, stderr -1: this process's own), its working directory, and the
// changes to this process's environment it gets (an empty value unsets).
struct SpawnSpec {
  std::vector<std::string> argv;
  int in = -1;
  int out = -1;
  int err = -1;
  fs::path cwd;
  std::vector<std::pair<std::string, std::string>> env;
  bool own_process_group = false;  // so that one kill reaches its children too
};

// Starts the child with posix_spawn, with SIGINT and SIGTERM at their
// defaults; -1 with errno set when it cannot start. Unlike fork(), it does
// not copy this process's memory map, which the sanitizers make large: a
// fork costs tens of milliseconds in a sanitized test, a spawn about one.
pid_t spawn(const SpawnSpec& spec);

// The child's exit status, 128 + the signal that ended it, or -1 when it
// is not this process's child.
int wait_for_exit(pid_t pid);

void write_text(const fs::path& file, const std::string& text);
std::string read_text(const fs::path& file);
// The lines of `text`, without their line breaks.
std::vector<std::string> lines_of(const std::string& text);

// Whether process `pid` is gone within about five seconds: no such process,
// or a zombie nobody has reaped yet (an orphan's new parent may be slow to
// reap it, or never do). A killed process needs a moment to be taken down.
bool process_gone_soon(pid_t pid);

// A git repository in a temporary directory with a fixed identity.
class GitRepo {
 public:
  // object_format "sha256" makes a SHA-256 repository.
  explicit GitRepo(const std::string& object_format = "sha1");
  const fs::path& root() const { return dir_.path(); }

  // Runs git in the repository; throws std::runtime_error when it fails.
  // Returns stdout+stderr with trailing whitespace removed.
  std::string git(std::initializer_list<std::string> args) const;
  // Writes `file` (relative) with `content`, stages it and commits with
  // `subject`; returns the full hash of the new commit.
  std::string commit(const std::string& subject, const std::string& file = "file.txt", const std::string& content = "");
  std::string head() const;

 private:
  TempDir dir_;
  int counter_ = 0;
};

// The isolated HOME every test runs under (set by the test main).
fs::path test_home();

}  // namespace tamrik::testing
