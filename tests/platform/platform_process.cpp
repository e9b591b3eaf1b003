#include "platform/platform_process.hpp"

#include "platform/postgres_cluster.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tamrik::testing {

namespace {

constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kStopLimit = std::chrono::seconds(20);

std::vector<std::string> environment_with(const std::vector<std::pair<std::string, std::string>>& added) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const auto& [name, value] : added) replaced |= text.starts_with(name + "=");
    if (!replaced) env.push_back(text);
  }
  for (const auto& [name, value] : added) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& text : texts) out.push_back(text.data());
  out.push_back(nullptr);
  return out;
}

// The first line the server prints, within the start limit.
std::string first_line(int fd) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (line.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[256];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<size_t>(got));
  }
  return line.substr(0, line.find('\n'));
}

int wait_exit(pid_t pid, std::chrono::steady_clock::duration limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Every binary that starts a platform can run against PostgreSQL.
const bool postgres_environment = (register_postgres_environment(false), true);

}  // namespace

std::string fresh_database(const fs::path& dir) {
  return postgres_selected() ? PostgresCluster::shared().new_database() : (dir / "platform.sqlite").string();
}

std::string platform_binary() { return TAMRIK_PLATFORM_BINARY; }

PlatformProcess::PlatformProcess(PlatformOptions options) : options_(std::move(options)) {
  db_ = options_.db ? *options_.db : fresh_database(dir_.path());
  std::vector<std::string> argv = {platform_binary(), "serve", "--db", db_, "--listen", "127.0.0.1:0"};
  for (const std::string& key : options_.api_keys) {
    argv.push_back("--api-key");
    argv.push_back(key);
  }
  if (options_.context_dir) {
    argv.push_back("--context-dir");
    argv.push_back(options_.context_dir->string());
  }
  argv.insert(argv.end(), options_.args.begin(), options_.args.end());
  std::vector<std::string> env = environment_with(options_.env);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const int err = open((dir_ / "server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<char*> args = pointers(argv);
  std::vector<char*> envp = pointers(env);
  const int spawned = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err);
  stdout_fd_ = out[0];
  if (spawned != 0) throw std::runtime_error("cannot start " + platform_binary());

  const std::string line = first_line(stdout_fd_);
  const std::string prefix = "listening on 127.0.0.1:";
  if (!line.starts_with(prefix)) {
    stop();
    throw std::runtime_error("tamrik-platform did not start: " + line + "\n" + log());
  }
  port_ = std::stoi(line.substr(prefix.size()));
}

PlatformProcess::~PlatformProcess() { stop(); }

int PlatformProcess::stop(int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  const int code = wait_exit(pid_, kStopLimit);
  pid_ = -1;
  close(stdout_fd_);
  stdout_fd_ = -1;
  return code;
}

std::string PlatformProcess::log() const { return read_text(dir_ / "server.log"); }

}  // namespace tamrik::testing
