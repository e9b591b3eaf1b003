// Whole-process cost of `tamrik status --json` on a 100-line and on a
// 1,000,000-line ledger (about 300 MB of realistic lines), in a set-up
// repository. The counts come from the cache of ledger counts:
//
//   BM_Status              steady state: nothing changed since the last status
//   BM_StatusAfterAppend   one record appended before each run (read on)
//   BM_StatusAfterRewrite  the ledger rewritten before each run (counted afresh)
//
// Target: at most 50 ms wall at 1M lines for the first two.

#include "process_timer.hpp"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;
using tamrik::bench::Command;

void run(const fs::path& cwd, std::vector<std::string> argv) {
  tamrik::bench::time_once({"setup step", std::move(argv), "/dev/null", cwd});
}

std::string hex40(long n) {
  char text[41];
  std::snprintf(text, sizeof text, "%016lx%024lx", n * 2654435761L, n);
  return text;
}

// One ledger line as the recorders write them: most attested, some bare
// records, half of them uploaded.
std::string ledger_line(long n) {
  std::string line = "{\"commit\": \"" + hex40(n) + "\", \"branch\": \"feature/ledger-" + std::to_string(n % 97) +
                     "\", \"timestamp\": \"2026-05-01T10:00:00Z\", ";
  if (n % 7 == 0) {
    line += "\"event\": \"commit_unattested\", \"reason\": \"unattested\", ";
  } else {
    line += "\"agent\": \"claude-code\", \"agent_provider\": \"anthropic\", \"agent_session_id\": "
            "\"5f0c9a1e-7b2d-4c3e-9a8f-1d2e3f4a5b6c\", \"summary\": \"Add rate limiting to the upload client and "
            "retry on 503 responses\", \"staged_diff_hash\": \"" + hex40(n + 7) + hex40(n + 9).substr(0, 24) + "\", ";
  }
  line += "\"developer\": {\"git_author_name\": \"Dana Developer\", \"git_author_email\": \"dana@example.com\"}, ";
  line += n % 2 == 0 ? "\"synced\": true}\n" : "\"synced\": false}\n";
  return line;
}

class Repos {
 public:
  Repos() {
    char dir_template[] = "/tmp/tamrik-bench-status-XXXXXX";
    dir_ = mkdtemp(dir_template);
    ::setenv("HOME", (dir_ / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "home" / ".config").c_str(), 1);
    ::setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
    fs::create_directories(dir_ / "home");
  }
  ~Repos() { fs::remove_all(dir_); }

  // A set-up repository whose ledger holds `lines` lines.
  const fs::path& repo(long lines) {
    auto found = repos_.find(lines);
    if (found != repos_.end()) return found->second;
    const fs::path root = dir_ / ("repo-" + std::to_string(lines));
    fs::create_directories(root);
    run(root, {"git", "init", "-q"});
    run(root, {"git", "config", "user.name", "Bench"});
    run(root, {"git", "config", "user.email", "bench@example.com"});
    run(root, {"git", "-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m", "init"});
    run(root, {TAMRIK_BINARY, "setup", "--agents", ""});
    std::ofstream ledger(root / ".tamrik" / "log.jsonl", std::ios::trunc);
    std::string block;
    for (long n = 0; n < lines; ++n) {
      block += ledger_line(n);
      if (block.size() > (1 << 20)) {
        ledger << block;
        block.clear();
      }
    }
    ledger << block;
    return repos_[lines] = root;
  }

  void append(long lines) {
    std::ofstream(repo(lines) / ".tamrik" / "log.jsonl", std::ios::app) << ledger_line(lines + appended_++);
  }

  // A new file with the same lines, as every whole-ledger rewrite leaves it.
  void rewrite(long lines) {
    const fs::path ledger = repo(lines) / ".tamrik" / "log.jsonl";
    const fs::path copy = ledger.string() + ".copy";
    fs::copy_file(ledger, copy, fs::copy_options::overwrite_existing);
    fs::rename(copy, ledger);
  }

 private:
  fs::path dir_;
  std::map<long, fs::path> repos_;
  long appended_ = 0;
};

Repos& repos() {
  static Repos instance;
  return instance;
}

double time_status(long lines) {
  const Command status{"tamrik status --json", {TAMRIK_BINARY, "status", "--json"}, "/dev/null", repos().repo(lines)};
  return tamrik::bench::time_once(status).wall / 1000.0;
}

void BM_Status(benchmark::State& state) {
  time_status(state.range(0));  // the cache as any earlier status leaves it
  for (auto _ : state) state.SetIterationTime(time_status(state.range(0)));
}

void BM_StatusAfterAppend(benchmark::State& state) {
  time_status(state.range(0));
  for (auto _ : state) {
    repos().append(state.range(0));
    state.SetIterationTime(time_status(state.range(0)));
  }
}

void BM_StatusAfterRewrite(benchmark::State& state) {
  for (auto _ : state) {
    repos().rewrite(state.range(0));
    state.SetIterationTime(time_status(state.range(0)));
  }
}

BENCHMARK(BM_Status)->Arg(100)->Arg(1'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_StatusAfterAppend)->Arg(100)->Arg(1'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_StatusAfterRewrite)->Arg(1'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
