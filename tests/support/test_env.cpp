#include "support/test_env.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cerrno>
#include <chrono>
#include <thread>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

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

CommandResult run_command(const std::vector<std::string>& argv, const fs::path& cwd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  CommandResult result;
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
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
