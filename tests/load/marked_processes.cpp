#include "load/marked_processes.hpp"

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tamrik::testing {

namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& text : texts) out.push_back(text.data());
  out.push_back(nullptr);
  return out;
}

// Whether process `pid` has `entry` (NAME=value) in its environment. A
// process that is gone, or not ours to read, does not.
bool carries(const std::string& pid, const std::string& entry) {
  std::ifstream in("/proc/" + pid + "/environ", std::ios::binary);
  const std::string environment((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  while (start < environment.size()) {
    size_t end = environment.find('\0', start);
    if (end == std::string::npos) end = environment.size();
    if (environment.compare(start, end - start, entry) == 0) return true;
    start = end + 1;
  }
  return false;
}

// The processes but this one with `entry` in their environment.
std::vector<pid_t> others_carrying(const std::string& entry) {
  const std::string self = std::to_string(::getpid());
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) throw std::runtime_error("cannot list /proc");
  std::vector<pid_t> found;
  while (const dirent* item = ::readdir(proc)) {
    const std::string name = item->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos || name == self) continue;
    if (carries(name, entry)) found.push_back(std::stoi(name));
  }
  ::closedir(proc);
  return found;
}

}  // namespace

MarkedProcesses::MarkedProcesses()
    : value_(std::to_string(::getpid()) + "-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())) {}

pid_t MarkedProcesses::start_shell(const std::string& script, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/bin/sh", "-c", script, "sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
  env.push_back(std::string(kName) + "=" + value_);
  std::vector<char*> arg_pointers = pointers(argv);
  std::vector<char*> env_pointers = pointers(env);
  pid_t pid = -1;
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, arg_pointers.data(), env_pointers.data()) != 0) {
    throw std::runtime_error("cannot start /bin/sh");
  }
  return pid;
}

int MarkedProcesses::wait_exit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool MarkedProcesses::wait_until_all_gone(std::chrono::seconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!others_carrying(std::string(kName) + "=" + value_).empty()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

void MarkedProcesses::kill_all() const {
  for (const pid_t pid : others_carrying(std::string(kName) + "=" + value_)) ::kill(pid, SIGKILL);
}

}  // namespace tamrik::testing
