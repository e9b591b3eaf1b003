#include "cli/detached.hpp"

#include "synccore/synccore.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tamrik::cli {

namespace {

void silence_stdio() {
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return;
  for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
  if (null > 2) ::close(null);
}

}  // namespace

void run_detached(std::string_view what, const std::function<void()>& work) {
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    ::setsid();
    // The grandchild outlives this child, so init adopts it.
    if (::fork() != 0) ::_exit(0);
    silence_stdio();
    core::best_effort(what, work);
    ::_exit(0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace tamrik::cli
