// Refreshing the context cache from a tamrik-platform on 127.0.0.1 (its own
// process, started here on a free port) serving a project of realistic size:
// 120 rules, 40 specs of 4 kB, 12 skills, 10 documents.
//
//   BM_RefreshFetched    a refresh that fetches everything (no cached copy)
//   BM_RefreshConfirmed  a refresh the platform answers with 304s
//   BM_FetchOnWorkers/n  only the fetches, on n workers: what the pool buys

#include "core/json.hpp"
#include "host/paths.hpp"
#include "host/protocol/http_client.hpp"
#include "host/services/shared.hpp"
#include "platform/platform_process.hpp"
#include "synccore/context_fetch.hpp"
#include "synccore/context_refresh.hpp"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

using tamrik::core::Json;
namespace fs = std::filesystem;
namespace synccore = tamrik::synccore;
namespace testing = tamrik::testing;

void write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  testing::write_text(file, text);
}

void write_project(const fs::path& dir) {
  std::string rules;
  for (const char* section : {"principles", "adrs", "checks", "invariants", "constraints", "guardrails"}) {
    rules += std::string(section) + ":\n";
    for (int i = 0; i < 20; ++i)
      rules += "  rule-" + std::to_string(i) + ": {text: Keep the public API rate limited.}\n";
  }
  write(dir / "rules.yaml", rules);
  write(dir / "state.yaml", "architecture:\n  elements:\n    api: {kind: service}\n    db: {kind: store}\n");
  const std::string page(4096, 'x');
  for (int i = 0; i < 40; ++i) write(dir / "specs" / ("spec-" + std::to_string(i) + ".md"), page);
  for (int i = 0; i < 12; ++i) write(dir / "skills" / ("skill-" + std::to_string(i)) / "SKILL.md", page);
  for (int i = 0; i < 10; ++i) write(dir / "docs" / ("doc-" + std::to_string(i) + ".md"), page);
  write(dir / "guardrails.yaml", "no-secrets: {text: never commit keys}\n");
  write(dir / "memories.yaml", "- the build needs two cores\n");
}

// One server and one repository for the whole run.
struct Fixture {
  Fixture() : platform(testing::PlatformOptions{.context_dir = context.path()}) {
    write_project(context.path());
    project = tamrik::protocol::http_client::resolve_project(
        platform.key(), platform.url(), "git@example.com:bench/context.git", std::nullopt)["projectId"];
    tamrik::services::shared::save_local_config(repo.path(), {{"project_id", project}});
  }

  synccore::RefreshResult refresh() const {
    return synccore::refresh_context_cache_detailed(platform.key(), platform.url(), repo.path(), project, false);
  }

  testing::TempDir context;
  testing::TempDir repo;
  testing::PlatformProcess platform;
  Json project;
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

void BM_RefreshFetched(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(tamrik::paths::platform_dir(f.repo.path()) / "tamrikrules.yaml");
    fs::remove_all(tamrik::paths::platform_dir(f.repo.path()) / "tamrikstate.yaml");
    fs::remove_all(tamrik::paths::platform_dir(f.repo.path()) / "specs");
    state.ResumeTiming();
    if (!f.refresh()) state.SkipWithError("refresh failed");
  }
}
BENCHMARK(BM_RefreshFetched)->Unit(benchmark::kMillisecond);

void BM_RefreshConfirmed(benchmark::State& state) {
  Fixture& f = fixture();
  if (!f.refresh()) state.SkipWithError("refresh failed");
  for (auto _ : state) {
    if (!f.refresh()) state.SkipWithError("refresh failed");
  }
}
BENCHMARK(BM_RefreshConfirmed)->Unit(benchmark::kMillisecond);

void BM_FetchOnWorkers(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    const auto fetched = synccore::detail::fetch_context_documents(f.platform.key(), f.platform.url(), f.project, {},
                                                                   static_cast<size_t>(state.range(0)));
    if (fetched.needed_failure) state.SkipWithError("fetch failed");
  }
}
BENCHMARK(BM_FetchOnWorkers)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
