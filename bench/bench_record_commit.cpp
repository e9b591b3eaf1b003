// Cost of the post-commit hook, `tamrik sync --record-commit`, in a fresh
// repository set up with `tamrik setup`, against the floor of any hook: a
// trivial dynamically linked C++ program, and one bare `git rev-parse HEAD`
// for scale. The git children one record starts are counted through a
// wrapper on PATH and listed: the usual record reads git's files and starts
// none.
//
//   bench_record_commit [rounds]   (default 30, after 3 warm-ups)

#include "bench_repo.hpp"
#include "process_timer.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;
using tamrik::bench::Command;
using tamrik::bench::run;

std::string read_all(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A commit that no hook records, so each timed run has a new HEAD to record.
void commit_unrecorded(const fs::path& repo, int n) {
  run(repo, {"git", "-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m",
             "feat: change " + std::to_string(n)});
}

fs::path real_git() {
  std::stringstream path(std::getenv("PATH"));
  for (std::string dir; std::getline(path, dir, ':');) {
    if (!dir.empty() && ::access((fs::path(dir) / "git").c_str(), X_OK) == 0) return fs::path(dir) / "git";
  }
  throw std::runtime_error("git is not on PATH");
}

// The git calls one record makes, each as its argument list ("git" first).
// The wrapper ends every argument with a unit separator and every call with
// a line break.
std::vector<std::vector<std::string>> count_git_calls(const fs::path& dir, const fs::path& repo) {
  const fs::path wrappers = dir / "wrappers";
  const fs::path log = dir / "git-calls.log";
  fs::create_directories(wrappers);
  std::ofstream(wrappers / "git") << "#!/bin/sh\n{ printf '%s\\037' git \"$@\"; echo; } >> '" << log.string()
                                  << "'\nexec '" << real_git().string() << "' \"$@\"\n";
  ::chmod((wrappers / "git").c_str(), 0755);
  commit_unrecorded(repo, 0);
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", (wrappers.string() + ":" + path).c_str(), 1);
  run(repo, {TAMRIK_BINARY, "sync", "--record-commit"});
  ::setenv("PATH", path.c_str(), 1);
  std::vector<std::vector<std::string>> calls;
  std::stringstream lines(read_all(log));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string>& call = calls.emplace_back();
    std::stringstream args(line);
    for (std::string arg; std::getline(args, arg, '\037');) call.push_back(arg);
  }
  return calls;
}

std::string joined(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& arg : argv) text += (text.empty() ? "" : " ") + arg;
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = static_cast<int>(tamrik::bench::count_argument(argc, argv, 30));
  const tamrik::bench::BenchHome home("record");
  const fs::path& dir = home.dir();
  const fs::path repo = dir / "repo";
  fs::create_directories(repo);
  run(repo, {"git", "init", "-q"});
  run(repo, {"git", "config", "user.name", "Bench"});
  run(repo, {"git", "config", "user.email", "bench@example.com"});
  commit_unrecorded(repo, -1);
  run(repo, {TAMRIK_BINARY, "setup", "--agents", ""});
  // An established install: the commit under each timed one is recorded,
  // so no record walks the history below it.
  run(repo, {TAMRIK_BINARY, "sync", "--record-commit"});

  const std::vector<std::vector<std::string>> calls = count_git_calls(dir, repo);
  std::printf("git children of one record: %zu\n", calls.size());
  for (const std::vector<std::string>& call : calls) std::printf("  %s\n", joined(call).c_str());

  const std::vector<Command> commands{
      {"tamrik sync --record-commit", {TAMRIK_BINARY, "sync", "--record-commit"}, "/dev/null", repo},
      {"trivial C++ program", {TRIVIAL_PROGRAM}, "/dev/null", repo},
      {"git rev-parse HEAD", {"git", "rev-parse", "HEAD"}, "/dev/null", repo},
  };
  // Per kind of time (wall, CPU), per command.
  std::vector<double> samples[2][3];
  for (int round = -3; round < rounds; ++round) {
    commit_unrecorded(repo, round + 10);
    for (size_t i = 0; i < commands.size(); ++i) {
      const tamrik::bench::Timing timing = tamrik::bench::time_once(commands[i]);
      if (round < 0) continue;
      samples[0][i].push_back(timing.wall);
      samples[1][i].push_back(timing.cpu);
    }
  }
  for (int kind = 0; kind < 2; ++kind) {
    std::printf("Whole-process %s time, %d rounds (median, min-max):\n", kind == 0 ? "wall" : "CPU (user + system)",
                rounds);
    const auto recorded = tamrik::bench::summarise(samples[kind][0]);
    for (size_t i = 0; i < commands.size(); ++i) {
      std::printf("  %s\n",
                  tamrik::bench::describe(commands[i].name, tamrik::bench::summarise(samples[kind][i])).c_str());
    }
    std::printf("  ratio %.2fx the trivial program, %.2fx one git child\n",
                recorded.median / tamrik::bench::summarise(samples[kind][1]).median,
                recorded.median / tamrik::bench::summarise(samples[kind][2]).median);
  }
  return 0;
}
