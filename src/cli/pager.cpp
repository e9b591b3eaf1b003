#include "cli/pager.hpp"

#include "synccore/synccore.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

extern char** environ;

namespace tamrik::cli {

namespace {

constexpr const char* kDefaultPager = "less -FRX";

std::optional<std::string> pager_command() {
  if (const char* chosen = std::getenv("PAGER")) {
    const std::string command = chosen;
    if (command.empty() || command == "cat") return std::nullopt;
    return command;
  }
  if (!core::find_on_path("less")) return std::nullopt;
  return std::string(kDefaultPager);
}

}  // namespace

Pager::Pager(std::FILE* out) {
  if (out != stdout || ::isatty(STDOUT_FILENO) != 1) return;
  const std::optional<std::string> command = pager_command();
  if (!command) return;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
  const char* argv[] = {"/bin/sh", "-c", command->c_str(), nullptr};
  const int spawned = ::posix_spawn(&pid_, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[0]);
  if (spawned != 0) {
    pid_ = -1;
    ::close(ends[1]);
    return;
  }
  std::fflush(stdout);
  saved_stdout_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  ::dup2(ends[1], STDOUT_FILENO);
  ::close(ends[1]);
}

Pager::~Pager() {
  if (pid_ < 0) return;
  std::fflush(stdout);
  // The pipe's last write end goes with this: the pager reads to its end.
  if (saved_stdout_ >= 0) {
    ::dup2(saved_stdout_, STDOUT_FILENO);
    ::close(saved_stdout_);
  } else {
    ::close(STDOUT_FILENO);
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace tamrik::cli
