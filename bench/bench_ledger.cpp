// Ledger speed on realistic ledgers of 100,000 and 1,000,000 lines (~300
// bytes each, nine in ten already synced): reading and classifying, looking
// up an absent commit, journalling a batch of 100 synced, one append.

#include "core/file_io.hpp"
#include "core/json.hpp"
#include "core/sha256.hpp"
#include "synccore/ledger.hpp"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

namespace {

using tamrik::core::Json;
namespace fs = std::filesystem;
namespace synccore = tamrik::synccore;

std::string sha(long n) { return tamrik::core::sha256_hex("c" + std::to_string(n)).substr(0, 40); }

std::string realistic_line(long n) {
  Json entry = Json::object();
  entry["commit"] = sha(n);
  entry["branch"] = "feature/ledger-speed";
  entry["timestamp"] = "2024-05-01T10:00:00+00:00";
  entry["agent"] = "claude-code";
  entry["summary"] = "Add rate limiting to the upload client and retry on 503 responses";
  entry["synced"] = n % 10 != 0;
  entry["agent_provider"] = "anthropic";
  entry["agent_session_id"] = "5f0c9a1e-7b2d-4c3e-9a8f-1d2e3f4a5b6c";
  entry["developer"] = {{"git_author_name", "Dana Developer"}, {"git_author_email", "dana@example.com"}};
  return tamrik::core::to_json_line(entry) + "\n";
}

std::map<long, fs::path> made;  // ledgers built so far, by line count

// Builds (once per size) a ledger in a scratch directory; returns its path.
fs::path ledger_of(long lines) {
  if (auto it = made.find(lines); it != made.end()) return it->second;
  const fs::path dir =
      fs::temp_directory_path() / ("tamrik-bench-" + std::to_string(::getpid()) + "-" + std::to_string(lines));
  fs::create_directories(dir);
  std::string text;
  text.reserve(static_cast<size_t>(lines) * 320);
  for (long i = 0; i < lines; ++i) text += realistic_line(i);
  tamrik::core::replace_file_atomically(dir / "log.jsonl", text, tamrik::core::Durability::no_flush);
  return made[lines] = dir / "log.jsonl";
}

void BM_ReadAttestationLog(benchmark::State& state) {
  const fs::path log = ledger_of(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(synccore::read_attestation_log(log));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(log)));
}

void BM_AlreadyLoggedAbsent(benchmark::State& state) {
  const fs::path log = ledger_of(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(synccore::_commit_already_logged(log, sha(-1)));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(log)));
}

// An accepted batch of 100 journalled synced: what each batch of an upload
// costs (the journal is folded into the ledger once per run).
void BM_MarkSynced100(benchmark::State& state) {
  const fs::path log = ledger_of(state.range(0));
  std::vector<synccore::SentLine> batch;
  for (long i = 0; i < 100; ++i) batch.push_back({sha(i * 10), std::string(32, 'a')});
  for (auto _ : state) synccore::_mark_synced(log, batch);
  fs::remove(log.parent_path() / ".platform" / "synced.journal");
}

void BM_AppendOne(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / ("tamrik-bench-append-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const Json entry = *tamrik::core::parse_json(realistic_line(1));
  for (auto _ : state) synccore::_append_log_entry(dir / "log.jsonl", entry);
  fs::remove_all(dir);
}

// What flushing the temporary file and the directory adds to a rewrite of
// a 100,000-line ledger.
void BM_ReplaceFile(benchmark::State& state) {
  const std::string text = tamrik::core::read_file(ledger_of(100'000), size_t{1} << 32);
  const fs::path target = ledger_of(100'000).parent_path() / "copy.jsonl";
  const auto durability = state.range(0) != 0 ? tamrik::core::Durability::flush : tamrik::core::Durability::no_flush;
  for (auto _ : state) tamrik::core::replace_file_atomically(target, text, durability);
  state.SetLabel(state.range(0) != 0 ? "flush" : "no_flush");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_ReadAttestationLog)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlreadyLoggedAbsent)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarkSynced100)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendOne)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReplaceFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& [lines, log] : made) {
    std::error_code ec;
    fs::remove_all(log.parent_path(), ec);
  }
  return 0;
}
