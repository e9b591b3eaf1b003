#include "support/test_env.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cerrno>
#include <chrono>
#include <thread>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tamrik::testing {

fs::path run_root() {
  static const fs::path root = [] {
    std::string templ = (fs::temp_directory_path() / "tamrik-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return fs::path(templ);
  }();
  return root;
}

TempDir::TempDir() {
  static std::mt19937_64 rng{std::random_device{}()};
  for (;;) {
    fs::path candidate = run_root() / ("d" + std::to_string(rng()));
    if (fs::create_directory(candidate)) {
      path_ = fs::canonical(candidate);
      return;
    }
  }
}

TempDir::~TempDir() {
  if (std::getenv("TAMRIK_KEEP_TEST_DIRS") != nullptr) return;
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

pid_t spawn(const SpawnSpec& spec) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  if (spec.in >= 0) {
    posix_spawn_file_actions_adddup2(&actions, spec.in, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  if (spec.out >= 0) posix_spawn_file_actions_adddup2(&actions, spec.out, STDOUT_FILENO);
  if (spec.err >= 0) posix_spawn_file_actions_adddup2(&actions, spec.err, STDERR_FILENO);
  if (!spec.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, spec.cwd.c_str());
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | (spec.own_process_group ? POSIX_SPAWN_SETPGROUP : 0));

  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    const bool changed = std::any_of(spec.env.begin(), spec.env.end(), [&](const auto& change) {
      return text.starts_with(change.first) && text.size() > change.first.size() && text[change.first.size()] == '=';
    });
    if (!changed) env_text.emplace_back(text);
  }
  for (auto change = spec.env.begin(); change != spec.env.end(); ++change) {
    const bool changed_again =
        std::any_of(change + 1, spec.env.end(), [&](const auto& later) { return later.first == change->first; });
    if (!changed_again && !change->second.empty()) env_text.push_back(change->first + "=" + change->second);
  }
  std::vector<char*> envp;
  for (std::string& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (const std::string& arg : spec.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int failed = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    errno = failed;
    return -1;
  }
  return pid;
}

int wait_for_exit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

CommandResult run_command(const std::vector<std::string>& argv, const fs::path& cwd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = spawn({.argv = argv, .out = fds[1], .err = fds[1], .cwd = cwd});
  close(fds[1]);
  CommandResult result;
  if (pid < 0) {
    // As a shell says it: the program could not be run.
    close(fds[0]);
    result.exit_code = 127;
    return result;
  }
  char buf[8192];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    result.out.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  result.exit_code = wait_for_exit(pid);
  return result;
}

void write_text(const fs::path& file, const std::string& text) {
  if (file.has_parent_path()) fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string read_text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

GitRepo::GitRepo(const std::string& object_format) {
  git({"init", "-q", "-b", "main", "--object-format=" + object_format});
}

std::string GitRepo::git(std::initializer_list<std::string> args) const {
  std::vector<std::string> argv{"git"};
  argv.insert(argv.end(), args.begin(), args.end());
  CommandResult r = run_command(argv, root());
  if (r.exit_code != 0) {
    std::string joined;
    for (const auto& a : argv) joined += a + " ";
    throw std::runtime_error(joined + "failed: " + r.out);
  }
  while (!r.out.empty() && std::isspace(static_cast<unsigned char>(r.out.back()))) r.out.pop_back();
  return r.out;
}

std::string GitRepo::commit(const std::string& subject, const std::string& file, const std::string& content) {
  ++counter_;
  write_text(root() / file, content.empty() ? subject + " " + std::to_string(counter_) + "\n" : content);
  git({"add", "--", file});
  git({"commit", "-q", "-m", subject});
  return head();
}

std::string GitRepo::head() const { return git({"rev-parse", "HEAD"}); }

fs::path test_home() {
  const char* home = std::getenv("HOME");
  return home != nullptr ? fs::path(home) : fs::path();
}

bool process_gone_soon(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::string stat;
    try {
      stat = read_text("/proc/" + std::to_string(pid) + "/stat");
    } catch (const std::exception&) {
      return true;  // vanished since kill()
    }
    const auto close_paren = stat.rfind(')');
    if (close_paren != std::string::npos && stat.compare(close_paren, 4, ") Z ") == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace tamrik::testing
