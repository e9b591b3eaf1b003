// Whole-process cost of `tamrik status --json` on a 100-line and on a
// 1,000,000-line ledger (about 300 MB of realistic lines), in a set-up
// repository. The counts come from the cache of ledger counts:
//
//   BM_Status              steady state: nothing changed since the last status
//   BM_StatusAfterAppend   one record appended before each run (read on)
//   BM_StatusAfterRewrite  the ledger rewritten before each run (counted afresh)
//
// Target: at most 50 ms wall at 1M lines for the first two.

#include "bench_repo.hpp"
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
using tamrik::bench::run;

class Repos {
 public:
  // A set-up repository whose ledger holds `lines` lines.
  const fs::path& repo(long lines) {
    auto found = repos_.find(lines);
    if (found != repos_.end()) return found->second;
    const fs::path root = home_.dir() / ("repo-" + std::to_string(lines));
    fs::create_directories(root);
    run(root, {"git", "init", "-q"});
    run(root, {"git", "config", "user.name", "Bench"});
    run(root, {"git", "config", "user.email", "bench@example.com"});
    run(root, {"git", "-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m", "init"});
    run(root, {TAMRIK_BINARY, "setup", "--agents", ""});
    tamrik::bench::write_ledger(root / ".tamrik" / "log.jsonl", lines);
    return repos_[lines] = root;
  }

  void append(long lines) {
    std::ofstream(repo(lines) / ".tamrik" / "log.jsonl", std::ios::app)
        << tamrik::bench::ledger_line(lines + appended_++);
  }

  // A new file with the same lines, as every whole-ledger rewrite leaves it.
  void rewrite(long lines) {
    const fs::path ledger = repo(lines) / ".tamrik" / "log.jsonl";
    const fs::path copy = ledger.string() + ".copy";
    fs::copy_file(ledger, copy, fs::copy_options::overwrite_existing);
    fs::rename(copy, ledger);
  }

 private:
  tamrik::bench::BenchHome home_{"status"};
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
BENCHMARK(BM_StatusAfterAppend)
    ->Arg(100)
    ->Arg(1'000'000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3);
BENCHMARK(BM_StatusAfterRewrite)->Arg(1'000'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
