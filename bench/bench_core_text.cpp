// Text encodings on the recording paths: writing and reading one ledger line,
// the wire encoding, and loading and emitting an attestation document. Each
// has the JSON library's own call beside it as the floor to compare with.

#include <benchmark/benchmark.h>

#include <string>

#include "core/json.hpp"
#include "core/yaml.hpp"

namespace {

using tamrik::core::Json;

Json ledger_entry() {
  Json entry = Json::object();
  entry["commit"] = "3f1c9a7e5b2d4c6e8a0f1b3d5c7e9a1b3d5f7a9c";
  entry["branch"] = "feature/ledger-speed";
  entry["timestamp"] = "2024-05-01T10:00:00+00:00";
  entry["agent"] = "claude-code";
  entry["summary"] = "Add rate limiting to the upload client and retry on 503 responses \u2014 caf\u00e9";
  entry["synced"] = false;
  entry["developer"] = {{"git_author_name", "Dana Developer"}, {"git_author_email", "dana@example.com"}};
  entry["telemetry"] = {{"model", "m-1"}, {"tokens", {{"input", 120345}, {"output", 4567}}}, {"cost", 0.4125}};
  return entry;
}

const char* const kAttestation =
    "summary: Add rate limiting to the upload client\n"
    "model: claude-opus-4-6\n"
    "timestamp: \"2024-05-01T10:00:00Z\"\n"
    "staged_diff_hash: 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08\n"
    "task_type: feature\n"
    "provenance:\n"
    "  source: user_request\n"
    "  reference: \"1234\"\n"
    "rules:\n"
    "  followed:\n"
    "    - R-001\n"
    "    - R-017\n"
    "  violated: []\n"
    "changes:\n"
    "  - element: upload-client\n"
    "    kind: modified\n"
    "    detail: retries on 503 with backoff\n"
    "  - element: rate-limiter\n"
    "    kind: added\n"
    "    weight: 0.5\n";

void BM_ToJsonLine(benchmark::State& state) {
  const Json entry = ledger_entry();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string line = tamrik::core::to_json_line(entry);
    bytes += line.size();
    benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_NlohmannDumpAscii(benchmark::State& state) {
  const Json entry = ledger_entry();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string line = entry.dump(-1, ' ', true, Json::error_handler_t::replace);
    bytes += line.size();
    benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_ToJsonCompact(benchmark::State& state) {
  const Json entry = ledger_entry();
  for (auto _ : state) benchmark::DoNotOptimize(tamrik::core::to_json_compact(entry));
}

void BM_ParseJsonLine(benchmark::State& state) {
  const std::string line = tamrik::core::to_json_line(ledger_entry());
  for (auto _ : state) benchmark::DoNotOptimize(tamrik::core::parse_json(line));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}

void BM_NlohmannParseLine(benchmark::State& state) {
  const std::string line = tamrik::core::to_json_line(ledger_entry());
  for (auto _ : state) benchmark::DoNotOptimize(Json::parse(line));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}

void BM_LoadYaml(benchmark::State& state) {
  const std::string text = kAttestation;
  for (auto _ : state) benchmark::DoNotOptimize(tamrik::core::load_yaml(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_EmitYaml(benchmark::State& state) {
  const Json document = tamrik::core::load_yaml(kAttestation);
  for (auto _ : state) benchmark::DoNotOptimize(tamrik::core::emit_yaml(document));
}

BENCHMARK(BM_ToJsonLine);
BENCHMARK(BM_NlohmannDumpAscii);
BENCHMARK(BM_ToJsonCompact);
BENCHMARK(BM_ParseJsonLine);
BENCHMARK(BM_NlohmannParseLine);
BENCHMARK(BM_LoadYaml);
BENCHMARK(BM_EmitYaml);

}  // namespace

BENCHMARK_MAIN();
