#include "core/process.hpp"

#include "core/program_search.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <optional>
#include <thread>

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/utf8.hpp"

namespace tamrik::core {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The end of the time limit; a zero limit never ends.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds limit) : unlimited_(limit <= 0ms), end_(Clock::now() + limit) {}

  bool unlimited() const { return unlimited_; }
  bool passed() const { return !unlimited_ && Clock::now() >= end_; }
  Clock::duration left() const {
    if (unlimited_) return Clock::duration::max();
    return std::max(end_ - Clock::now(), Clock::duration::zero());
  }

  // For poll(2): -1 for no limit; rounded up, so a wake-up is never early.
  int poll_timeout() const {
    if (unlimited_) return -1;
    const auto millis = std::chrono::ceil<std::chrono::milliseconds>(left()).count();
    return static_cast<int>(std::min<decltype(millis)>(millis, INT_MAX));
  }

 private:
  bool unlimited_;
  Clock::time_point end_;
};

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw OSError("pipe", errno);
  UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);
  // Above 2, so a dup2 onto the child's stdout or stderr is never a no-op
  // that keeps the close-on-exec flag.
  return {lift_above_stdio(std::move(read_end), "pipe"), lift_above_stdio(std::move(write_end), "pipe")};
}

// Our environment with `overrides` added or put in place of same-named entries.
std::vector<std::string> child_environment(const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    const bool overridden =
        std::any_of(overrides.begin(), overrides.end(), [&](const auto& item) { return item.first == name; });
    if (!overridden) entries.emplace_back(text);
  }
  for (const auto& [name, value] : overrides) entries.push_back(name + "=" + value);
  return entries;
}

// Pointers into `strings`, ending in a null pointer, as exec wants them.
std::vector<char*> c_array(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (const auto& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// What the child gets: its standard streams, directory, session and signal
// state. Every setup call returns an error number; the first one is kept.
class SpawnPlan {
 public:
  SpawnPlan(const ProcessOptions& options, int out_fd, int err_fd) {
    keep(::posix_spawn_file_actions_init(&actions_));
    keep(::posix_spawnattr_init(&attr_));
    if (error_ != 0) return;

    if (options.stdin_mode == StdinMode::devnull) {
      keep(::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0));
    }
    keep(::posix_spawn_file_actions_adddup2(&actions_, out_fd, STDOUT_FILENO));
    if (err_fd >= 0) {
      keep(::posix_spawn_file_actions_adddup2(&actions_, err_fd, STDERR_FILENO));
    } else {
      keep(::posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0));
    }
    // Close-on-exec covers our descriptors; this also covers any a library
    // opened without it.
    keep(::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1));
    if (!options.cwd.empty()) keep(::posix_spawn_file_actions_addchdir_np(&actions_, options.cwd.c_str()));

    // An empty signal mask, and default actions for the signals a parent
    // commonly ignores, so the child behaves as if started from a shell.
    sigset_t signals;
    sigemptyset(&signals);
    keep(::posix_spawnattr_setsigmask(&attr_, &signals));
    sigaddset(&signals, SIGPIPE);
    sigaddset(&signals, SIGXFSZ);
    keep(::posix_spawnattr_setsigdefault(&attr_, &signals));
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.new_process_group) flags |= POSIX_SPAWN_SETSID;
    keep(::posix_spawnattr_setflags(&attr_, flags));
  }
  SpawnPlan(const SpawnPlan&) = delete;
  SpawnPlan& operator=(const SpawnPlan&) = delete;
  ~SpawnPlan() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attr_);
  }

  // Returns 0, or the error number of the failed set-up or spawn (a missing
  // program or directory included: the spawn reports those itself). A bare
  // program name is looked up here, in PATH's absolute directories only: a
  // search in the child would run after its chdir, where a relative PATH
  // entry names a directory of whatever repository the child works in.
  int spawn(pid_t& pid, const std::vector<std::string>& argv, char* const envp[]) {
    if (error_ != 0) return error_;
    const std::optional<std::filesystem::path> program =
        argv[0].find('/') == std::string::npos ? find_on_path(argv[0]) : std::filesystem::path(argv[0]);
    if (!program) return ENOENT;
    const std::vector<char*> args = c_array(argv);
    return ::posix_spawn(&pid, program->c_str(), &actions_, &attr_, args.data(), envp);
  }

 private:
  void keep(int error) {
    if (error_ == 0) error_ = error;
  }

  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attr_{};
  int error_ = 0;
};

// Through syscall(2): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
int open_pidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// A started child that is always reaped: if we leave early (an exception),
// it is killed and waited for, so no zombie is left behind.
class Child {
 public:
  Child(pid_t pid, bool own_group) : pid_(pid), own_group_(own_group) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (!reaped_) kill_and_reap();
  }

  // Waits for the child to exit until the deadline; true when it has.
  bool reap_before(const Deadline& deadline) {
    if (deadline.unlimited()) {
      wait_blocking();
      return true;
    }
    // A pidfd turns readable when the child exits, so we can sleep in poll.
    // Without one (old kernel, sandbox) we poll waitpid with short sleeps.
    const UniqueFd pidfd(open_pidfd(pid_));
    Clock::duration pause = 100us;
    for (;;) {
      if (try_reap()) return true;
      if (deadline.passed()) return false;
      if (pidfd) {
        pollfd ready{pidfd.get(), POLLIN, 0};
        ::poll(&ready, 1, deadline.poll_timeout());
      } else {
        std::this_thread::sleep_for(std::min(pause, deadline.left()));
        pause = std::min<Clock::duration>(pause * 2, 10ms);
      }
    }
  }

  void kill_and_reap() {
    ::kill(own_group_ ? -pid_ : pid_, SIGKILL);
    wait_blocking();
  }

  // Kills what the child left running in its group (after it exited).
  void kill_leftovers() {
    if (own_group_) ::kill(-pid_, SIGKILL);
  }

  // The wait status; none when someone else reaped the child (SIGCHLD ignored).
  std::optional<int> status() const { return status_; }

 private:
  bool try_reap() {
    int status = 0;
    for (;;) {
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) return false;
      reaped_ = true;
      if (r == pid_) status_ = status;
      return true;
    }
  }

  void wait_blocking() {
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    reaped_ = true;
    if (r == pid_) status_ = status;
  }

  pid_t pid_;
  bool own_group_;
  bool reaped_ = false;
  std::optional<int> status_;
};

struct Capture {
  UniqueFd fd;
  std::string* sink;
};

// Reads every pipe until end of file, all at once (a child blocked on a
// full stderr pipe must not stall stdout). Returns false when the deadline
// passed first.
bool collect_output(std::vector<Capture>& captures, const Deadline& deadline) {
  // Left uninitialised: zeroing 64 KB would touch sixteen fresh pages per
  // child, which costs more than a short-lived child's whole output.
  constexpr size_t kChunk = 64 * 1024;
  const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kChunk);
  std::vector<pollfd> polled;
  std::vector<Capture*> owners;
  for (;;) {
    polled.clear();
    owners.clear();
    for (auto& capture : captures) {
      if (!capture.fd) continue;
      polled.push_back({capture.fd.get(), POLLIN, 0});
      owners.push_back(&capture);
    }
    if (polled.empty()) return true;
    if (deadline.passed()) return false;
    const int ready = ::poll(polled.data(), polled.size(), deadline.poll_timeout());
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw OSError("poll", errno);
    }
    for (size_t i = 0; i < polled.size(); ++i) {
      if (polled[i].revents == 0) continue;
      const ssize_t n = ::read(polled[i].fd, buffer.get(), kChunk);
      if (n > 0) {
        owners[i]->sink->append(buffer.get(), static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        owners[i]->fd.close();  // end of file (or a broken pipe: same to us)
      }
    }
  }
}

void fill_status(ProcessResult& result, std::optional<int> status) {
  result.status = ProcessStatus::exited;
  if (!status) return;  // reaped elsewhere: the exit code is unknown (-1)
  if (WIFEXITED(*status)) {
    result.exit_code = WEXITSTATUS(*status);
  } else if (WIFSIGNALED(*status)) {
    result.status = ProcessStatus::signaled;
    result.signal = WTERMSIG(*status);
  }
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty()) {
    result.start_error = EINVAL;
    return result;
  }

  Pipe out = make_pipe();
  std::optional<Pipe> err;
  if (options.capture_stderr) err = make_pipe();

  std::vector<std::string> env_storage;
  std::vector<char*> envp;
  if (!options.env.empty()) {
    env_storage = child_environment(options.env);
    envp = c_array(env_storage);
  }

  pid_t pid = 0;
  int spawn_error;
  {
    SpawnPlan plan(options, out.write.get(), err ? err->write.get() : -1);
    spawn_error = plan.spawn(pid, argv, envp.empty() ? environ : envp.data());
  }
  // Only the child may hold the write ends, or we would never see end of file.
  out.write.close();
  if (err) err->write.close();
  if (spawn_error != 0) {
    result.start_error = spawn_error;
    return result;
  }

  Child child(pid, options.new_process_group);
  const Deadline deadline(options.timeout);
  std::vector<Capture> captures;
  captures.push_back({std::move(out.read), &result.out});
  if (err) captures.push_back({std::move(err->read), &result.err});

  const bool drained = collect_output(captures, deadline);
  captures.clear();  // close our read ends before waiting
  if (!child.reap_before(deadline)) {
    child.kill_and_reap();
    result.status = ProcessStatus::timed_out;
    return result;
  }
  fill_status(result, child.status());
  if (!drained) {
    // It exited, but something it started still held our pipes at the
    // deadline: the run did not end within its limit, and its output may
    // be cut short.
    child.kill_leftovers();
    result.status = ProcessStatus::timed_out;
  }
  return result;
}

std::string decode_utf8_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t valid_from = 0;  // start of the valid run not yet copied
  size_t at = 0;
  while (at < bytes.size()) {
    const Utf8Char c = decode_utf8_char(bytes, at);
    if (!c.valid) {
      text.append(bytes.substr(valid_from, at - valid_from));
      append_utf8(text, kReplacementCharacter);
      valid_from = at + c.length;
    }
    at += c.length;
  }
  text.append(bytes.substr(valid_from));
  return text;
}

std::string ProcessResult::out_text() const { return decode_utf8_lossy(out); }

}  // namespace tamrik::core
