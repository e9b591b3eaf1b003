#include "tamrik_runner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <tuple>

namespace tamrik::testing {

namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    read = fds[0];
    write = fds[1];
  }
};

[[noreturn]] void exec_child(const TamrikRun& run, const Pipe& in, const Pipe& out, const Pipe& err) {
  ::dup2(in.read, 0);
  ::dup2(out.write, 1);
  ::dup2(err.write, 2);
  if (!run.cwd.empty() && ::chdir(run.cwd.c_str()) != 0) ::_exit(126);
  for (const auto& [name, value] : run.env) {
    if (value.empty()) {
      ::unsetenv(name.c_str());
    } else {
      ::setenv(name.c_str(), value.c_str(), 1);
    }
  }
  const std::string program = tamrik_binary().string();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : run.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

// Feeds stdin and drains stdout and stderr together, so neither side can
// block the other however much is written.
void exchange(const std::string& input, int in_fd, int out_fd, int err_fd, TamrikResult& result) {
  size_t written = 0;
  if (input.empty()) {
    ::close(in_fd);
    in_fd = -1;
  }
  while (out_fd >= 0 || err_fd >= 0) {
    pollfd fds[3] = {{in_fd, POLLOUT, 0}, {out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    if (in_fd >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n = ::write(in_fd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 || written == input.size()) {
        ::close(in_fd);
        in_fd = -1;
      }
    }
    for (auto [index, fd, sink] : {std::tuple{1, &out_fd, &result.out}, std::tuple{2, &err_fd, &result.err}}) {
      if (*fd < 0 || fds[index].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(*fd, buffer, sizeof buffer);
      if (n > 0) {
        sink->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(*fd);
        *fd = -1;
      }
    }
  }
  if (in_fd >= 0) ::close(in_fd);
}

}  // namespace

fs::path tamrik_binary() { return TAMRIK_BINARY; }

TamrikResult run_tamrik(const TamrikRun& run) {
  // A command that exits without reading its stdin must not kill the test.
  static const bool sigpipe_ignored = ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)sigpipe_ignored;
  const Pipe in, out, err;
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) exec_child(run, in, out, err);
  ::close(in.read);
  ::close(out.write);
  ::close(err.write);
  TamrikResult result;
  exchange(run.input, in.write, out.read, err.read, result);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t stop = text.find('\n', start);
    if (stop == std::string::npos) stop = text.size();
    lines.push_back(text.substr(start, stop - start));
    start = stop + 1;
  }
  return lines;
}

}  // namespace tamrik::testing
