// Objects of 300,000 members in untrusted text: a hook payload on stdin, one
// ledger line read and rewritten, and a YAML configuration. Each must load in
// under a second; a reader that searches an object's members for every new
// key takes minutes. Most of the YAML time is the YAML parser's own.

#include <benchmark/benchmark.h>

#include <string>

#include "core/json.hpp"
#include "core/yaml.hpp"

namespace {

using tamrik::core::Json;
using tamrik::core::Numbers;

constexpr int kKeys = 300'000;

// `"key0": 0, "key1": 1, ...` in JSON.
std::string json_members(int keys) {
  std::string text;
  for (int i = 0; i < keys; ++i) {
    if (i > 0) text += ", ";
    text.append("\"key").append(std::to_string(i)).append("\": ").append(std::to_string(i));
  }
  return text;
}

std::string hook_payload() {
  return R"({"session_id": "s-1", "tool_name": "Bash", "tool_input": {"command": "git commit -m x"}, )" +
         json_members(kKeys) + "}";
}

std::string ledger_line() {
  return R"({"commit": "3f1c9a7e5b2d4c6e8a0f1b3d5c7e9a1b3d5f7a9c", "branch": "main", "synced": false, )"
         R"("telemetry": {)" +
         json_members(kKeys) + "}}";
}

// "k0: 0", "k1: 1", ... one to a line: 4.5 MB.
std::string yaml_config() {
  std::string text;
  for (int i = 0; i < kKeys; ++i)
    text.append("k").append(std::to_string(i)).append(": ").append(std::to_string(i)) += '\n';
  return text;
}

void BM_ParseHookPayload(benchmark::State& state) {
  const std::string text = hook_payload();
  for (auto _ : state) benchmark::DoNotOptimize(tamrik::core::parse_json(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_ReadLedgerLine(benchmark::State& state) {
  const std::string line = ledger_line();
  for (auto _ : state) benchmark::DoNotOptimize(tamrik::core::parse_json(line));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}

// As marking the record synced does: numbers as written, and written back.
void BM_RewriteLedgerLine(benchmark::State& state) {
  const std::string line = ledger_line();
  for (auto _ : state) {
    Json entry = *tamrik::core::parse_json(line, Numbers::as_written);
    entry["synced"] = true;
    benchmark::DoNotOptimize(tamrik::core::to_json_line(entry));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}

void BM_LoadYamlConfig(benchmark::State& state) {
  const std::string text = yaml_config();
  for (auto _ : state) benchmark::DoNotOptimize(tamrik::core::load_yaml(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_ParseHookPayload)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLedgerLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RewriteLedgerLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadYamlConfig)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
