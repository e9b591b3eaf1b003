// Whole-process cost of the commands that read the record for people, on a
// set-up repository whose ledger holds 100,000 realistic lines (about
// 45 MB), the record of HEAD its first line so that a lookup reads past
// every other:
//
//   BM_Log              tamrik log -n 20: the newest lines only
//   BM_LogFiltered      tamrik log -n 20 --agent claude --pending
//   BM_LogNoMatch       tamrik log --developer nobody: every line read, none shown
//   BM_LogRange         tamrik log HEAD~20..HEAD: git's commits looked up in the ledger
//   BM_Show             tamrik show: HEAD's record, found at the ledger's start
//   BM_Stats            tamrik stats (by agent), and --by week
//   BM_StatsTaskType    tamrik stats --by task-type: one archive lookup per record;
//                       none exists here, and a real archive costs a read and a
//                       YAML load on top (far over the target: the task type
//                       lives only in the archive)
//
// Target: at most 100 ms wall each but the last (stdout to /dev/null, so no pager). The
// cpu_ms counter (user and system time of the tamrik process) is what a
// busy machine disturbs least.

#include "bench_repo.hpp"
#include "process_timer.hpp"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tamrik::bench::Command;
using tamrik::bench::run;

constexpr long kLines = 100'000;

class Repo {
 public:
  Repo() {
    tamrik::bench::make_repo(root_, 100, 50);
    run(root_, {TAMRIK_BINARY, "setup", "--agents", ""});
    const fs::path ledger = root_ / ".tamrik" / "log.jsonl";
    tamrik::bench::write_ledger(ledger, kLines);
    // HEAD's record goes first: `show` and range lookups read the whole ledger.
    std::string head;
    std::getline(std::ifstream(root_ / ".git" / "refs" / "heads" / "main"), head);
    std::string line = tamrik::bench::ledger_line(1);
    line.replace(line.find(tamrik::bench::hex40(1)), 40, head);
    std::ifstream in(ledger, std::ios::binary);
    const std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(ledger, std::ios::binary | std::ios::trunc) << line << rest;
  }

  tamrik::bench::Timing time(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{TAMRIK_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return tamrik::bench::time_once(Command{"tamrik", argv, "/dev/null", root_});
  }

 private:
  tamrik::bench::BenchHome home_{"views"};
  fs::path root_ = home_.dir() / "repo";
};

const Repo& repo() {
  static const Repo instance;
  return instance;
}

void time_command(benchmark::State& state, const std::vector<std::string>& args) {
  repo().time(args);  // a first run warms the page cache, as a person's second look finds it
  double cpu = 0;
  for (auto _ : state) {
    const tamrik::bench::Timing timing = repo().time(args);
    state.SetIterationTime(timing.wall / 1000.0);
    cpu += timing.cpu;
  }
  state.counters["cpu_ms"] = cpu / static_cast<double>(state.iterations());
}

void BM_Log(benchmark::State& state) { time_command(state, {"log", "-n", "20"}); }
void BM_LogFiltered(benchmark::State& state) {
  time_command(state, {"log", "-n", "20", "--agent", "claude", "--pending"});
}
void BM_LogNoMatch(benchmark::State& state) { time_command(state, {"log", "--developer", "nobody"}); }
void BM_LogRange(benchmark::State& state) { time_command(state, {"log", "HEAD~20..HEAD"}); }
void BM_Show(benchmark::State& state) { time_command(state, {"show"}); }
void BM_Stats(benchmark::State& state) { time_command(state, {"stats"}); }
void BM_StatsByWeek(benchmark::State& state) { time_command(state, {"stats", "--by", "week"}); }
void BM_StatsTaskType(benchmark::State& state) { time_command(state, {"stats", "--by", "task-type"}); }

BENCHMARK(BM_Log)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_LogFiltered)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_LogNoMatch)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LogRange)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Show)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Stats)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StatsByWeek)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StatsTaskType)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
