#pragma once
// Runs test code in a fork()ed child, for what one process cannot show alone:
// lock contention, crashes, closed standard streams, resource limits.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <stdexcept>

namespace tamrik::testing {

// Exit code of a child whose body threw.
inline constexpr int kChildThrew = 125;

// Starts `body` in a child that exits with its return value (kChildThrew
// when it throws), without running the parent's destructors or atexit hooks.
inline pid_t start_child(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int code = kChildThrew;
    try {
      code = body();
    } catch (...) {
    }
    _exit(code);
  }
  return pid;
}

// The child's exit code, or 128 + signal when a signal ended it.
inline int wait_child(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline int run_in_child(const std::function<int()>& body) { return wait_child(start_child(body)); }

}  // namespace tamrik::testing
