// Uploading pending records: records per second from a ledger of 1,000,
// 10,000 and 100,000 pending records to a tamrik-platform on 127.0.0.1 (its
// own process, started here on a free port), and where the time goes:
//
//   BM_Upload            the whole upload_attestations run
//   BM_ReadAndSerialise  reading the ledger, and serialising each record
//                        once to split the records into batches
//   BM_SendBatches       the HTTP requests (client, loopback, server, SQLite)
//   BM_MarkBatches       marking each batch synced: an append to the journal of
//                        accepted uploads per batch, one ledger rewrite per run
//
// Every fifth record has an archived attestation, as attested commits do.

#include "core/file_io.hpp"
#include "core/json.hpp"
#include "core/sha256.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "host/protocol/http_client.hpp"
#include "host/services/setup_list.hpp"
#include "host/services/shared.hpp"
#include "platform/platform_process.hpp"
#include "synccore/ledger.hpp"
#include "synccore/upload.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace {

using tamrik::core::Json;
namespace fs = std::filesystem;
namespace core = tamrik::core;
namespace paths = tamrik::paths;
namespace synccore = tamrik::synccore;
namespace client = tamrik::protocol::http_client;

std::string sha(long n) { return core::sha256_hex("c" + std::to_string(n)).substr(0, 40); }

std::string ledger_line(long n) {
  Json entry = Json::object();
  entry["commit"] = sha(n);
  entry["branch"] = "feature/upload-speed";
  entry["timestamp"] = "2024-05-01T10:00:00Z";
  entry["agent"] = "claude-code";
  entry["summary"] = "Add rate limiting to the upload client and retry on 503 responses";
  entry["synced"] = false;
  entry["agent_provider"] = "anthropic";
  entry["agent_session_id"] = "5f0c9a1e-7b2d-4c3e-9a8f-1d2e3f4a5b6c";
  entry["developer"] = {{"git_author_name", "Dana Developer"}, {"git_author_email", "dana@example.com"}};
  return core::to_json_line(entry) + "\n";
}

std::string attestation_yaml() {
  return core::emit_yaml({{"summary", "Rate limiting for uploads"},
                          {"agent_model", "claude-sonnet-4"},
                          {"staged_diff_hash", std::string(64, 'f')},
                          {"provenance", {{"type", "prompt"}, {"prompts", {"make uploads resilient", "add tests"}}}},
                          {"rules", {{"checked", {"small-commits", "tests-first"}}}},
                          {"architecture_changes", Json::array()}});
}

// The platform, its project, and one repository per ledger size.
class Bench {
 public:
  Bench() {
    // The list of set-up repositories lives in a config home of our own.
    ::setenv("XDG_CONFIG_HOME", (home_.path() / ".config").c_str(), 1);
    project_ = client::resolve_project(platform_.key(), platform_.url(), "git@example.com:bench/upload.git",
                                       std::nullopt)["projectId"];
  }

  // A set-up repository whose archive holds the attestations of `records`
  // records; its pending ledger text is kept to restore before each run.
  const fs::path& repo(long records) {
    auto it = repos_.find(records);
    if (it != repos_.end()) return it->second.root;
    Repo& made = repos_[records];
    made.root = dirs_.emplace_back(std::make_unique<tamrik::testing::TempDir>())->path();
    tamrik::services::shared::save_local_config(made.root, {{"project_id", project_}});
    tamrik::services::setup_list::add(made.root);
    const fs::path archive = paths::attestations_dir(made.root);
    core::make_dirs(archive);
    const std::string yaml = attestation_yaml();
    made.ledger.reserve(static_cast<size_t>(records) * 400);
    for (long i = 0; i < records; ++i) {
      made.ledger += ledger_line(i);
      if (i % 5 == 0) core::replace_file_atomically(archive / (sha(i) + ".yaml"), yaml, core::Durability::no_flush);
    }
    return made.root;
  }

  // Puts every record back to pending.
  void reset_ledger(long records) {
    const fs::path& root = repo(records);
    core::replace_file_atomically(paths::log_jsonl(root), repos_[records].ledger, core::Durability::no_flush);
  }

  // The batches an upload would send, archives attached.
  std::vector<Json> batches(long records) {
    const fs::path archive = paths::attestations_dir(repo(records));
    reset_ledger(records);
    std::vector<Json> pending = synccore::read_attestation_log(paths::log_jsonl(repo(records))).pending;
    for (Json& entry : pending) {
      const std::optional<std::string> yaml =
          core::try_read_file(archive / (entry["commit"].get<std::string>() + ".yaml"), core::kDocumentFileCap);
      if (yaml) entry["attestation"] = core::load_yaml(*yaml);
    }
    return synccore::_chunk_attestations(std::move(pending));
  }

  const tamrik::testing::PlatformProcess& platform() const { return platform_; }
  const Json& project() const { return project_; }

 private:
  struct Repo {
    fs::path root;
    std::string ledger;
  };
  tamrik::testing::TempDir home_;
  tamrik::testing::PlatformProcess platform_;
  Json project_;
  std::vector<std::unique_ptr<tamrik::testing::TempDir>> dirs_;
  std::map<long, Repo> repos_;
};

Bench& bench() {
  static Bench instance;
  return instance;
}

void count_records(benchmark::State& state) { state.SetItemsProcessed(state.iterations() * state.range(0)); }

void BM_Upload(benchmark::State& state) {
  Bench& b = bench();
  const long records = state.range(0);
  const fs::path& root = b.repo(records);
  for (auto _ : state) {
    state.PauseTiming();
    b.reset_ledger(records);
    state.ResumeTiming();
    const synccore::UploadResult result = synccore::upload_attestations(b.platform().key(), b.platform().url(), root,
                                                                        paths::attestations_dir(root), b.project());
    if (!result.ok || result.uploaded != records) state.SkipWithError(result.error.value_or("short upload").c_str());
  }
  count_records(state);
}

void BM_ReadAndSerialise(benchmark::State& state) {
  Bench& b = bench();
  const long records = state.range(0);
  const fs::path log = paths::log_jsonl(b.repo(records));
  b.reset_ledger(records);
  for (auto _ : state) {
    benchmark::DoNotOptimize(synccore::_chunk_attestations(synccore::read_attestation_log(log).pending));
  }
  count_records(state);
}

void BM_SendBatches(benchmark::State& state) {
  Bench& b = bench();
  const std::vector<Json> batches = b.batches(state.range(0));
  for (auto _ : state) {
    for (const Json& batch : batches) {
      benchmark::DoNotOptimize(
          client::upload_attestations(b.platform().key(), b.platform().url(), b.project(), batch, std::nullopt));
    }
  }
  count_records(state);
}

void BM_MarkBatches(benchmark::State& state) {
  Bench& b = bench();
  const long records = state.range(0);
  const fs::path log = paths::log_jsonl(b.repo(records));
  b.reset_ledger(records);
  // The lines of each batch as read, the way the upload marks them.
  std::vector<std::vector<synccore::SentLine>> batches(1);
  for (const Json& entry : synccore::read_attestation_log(log).pending) {
    if (batches.back().size() == synccore::ATTESTATION_BATCH_SIZE) batches.emplace_back();
    batches.back().push_back({entry["commit"].get<std::string>(), synccore::_line_identity(entry)});
  }
  for (auto _ : state) {
    state.PauseTiming();
    b.reset_ledger(records);
    state.ResumeTiming();
    for (const std::vector<synccore::SentLine>& batch : batches) synccore::_mark_synced(log, batch);
    synccore::_fold_synced(log);
  }
  count_records(state);
}

// The largest ledger runs once.
void sizes(benchmark::internal::Benchmark* family) {
  family->Arg(1'000)->Arg(10'000)->Unit(benchmark::kMillisecond)->UseRealTime();
}
void largest(benchmark::internal::Benchmark* family) {
  family->Arg(100'000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Upload)->Apply(sizes);
BENCHMARK(BM_Upload)->Apply(largest);
BENCHMARK(BM_ReadAndSerialise)->Apply(sizes);
BENCHMARK(BM_ReadAndSerialise)->Apply(largest);
BENCHMARK(BM_SendBatches)->Apply(sizes);
BENCHMARK(BM_SendBatches)->Apply(largest);
BENCHMARK(BM_MarkBatches)->Apply(sizes);
BENCHMARK(BM_MarkBatches)->Apply(largest);

}  // namespace

BENCHMARK_MAIN();
