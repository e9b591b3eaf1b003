#include "tamrik_runner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// Starts `run` with the given standard streams.
pid_t start(const TamrikRun& run, int in, int out, int err) {
  std::vector<std::string> argv{run.program.string()};
  argv.insert(argv.end(), run.args.begin(), run.args.end());
  const pid_t pid = spawn({.argv = argv, .in = in, .out = out, .err = err, .cwd = run.cwd, .env = run.env});
  if (pid < 0) throw std::runtime_error("cannot start " + run.program.string() + ": " + std::strerror(errno));
  return pid;
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
  const pid_t pid = start(run, in.read, out.write, err.write);
  ::close(in.read);
  ::close(out.write);
  ::close(err.write);
  TamrikResult result;
  exchange(run.input, in.write, out.read, err.read, result);
  result.exit_code = wait_for_exit(pid);
  return result;
}

TamrikProcess::TamrikProcess(const TamrikRun& run, const fs::path& stderr_file) {
  static const bool sigpipe_ignored = ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)sigpipe_ignored;
  const Pipe in, out;
  const int err = ::open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (err < 0) throw std::runtime_error("cannot create " + stderr_file.string());
  pid_ = start(run, in.read, out.write, err);
  ::close(err);
  ::close(in.read);
  ::close(out.write);
  in_ = in.write;
  out_ = out.read;
}

TamrikProcess::~TamrikProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    (void)wait_for_exit(pid_);
  }
  if (in_ >= 0) ::close(in_);
  if (out_ >= 0) ::close(out_);
}

void TamrikProcess::write(const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(in_, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("tamrik stopped reading its input");
    written += static_cast<size_t>(n);
  }
}

std::optional<std::string> TamrikProcess::read_line() {
  for (;;) {
    const size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return line;
    }
    pollfd ready{out_, POLLIN, 0};
    const int polled = ::poll(&ready, 1, 30'000);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return std::nullopt;
    char chunk[4096];
    const ssize_t n = ::read(out_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

TamrikResult TamrikProcess::finish() {
  ::close(in_);
  in_ = -1;
  TamrikResult result;
  result.out = std::move(buffered_);
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(out_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.out.append(chunk, static_cast<size_t>(n));
  }
  result.exit_code = wait_for_exit(pid_);
  pid_ = -1;
  return result;
}

}  // namespace tamrik::testing
