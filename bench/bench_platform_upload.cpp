// Uploads through the platform API client to a local tamrik-platform on
// 127.0.0.1 (served in this process, on its own threads): requests and
// records per second for batches of 1, 100 and 500 realistic records, and
// the round trip of a small request (project resolution).

#include "host/protocol/http_client.hpp"
#include "platform/api_keys.hpp"
#include "platform/callers.hpp"
#include "platform/context_files.hpp"
#include "platform/routes.hpp"
#include "platform/sqlite_storage.hpp"

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>

namespace {

using tamrik::core::Json;
namespace client = tamrik::protocol::http_client;
namespace platform = tamrik::platform;
namespace fs = std::filesystem;

constexpr const char* kKey = "bench-key";

fs::path created(const fs::path& dir) {
  fs::create_directories(dir);
  return dir;
}

// One server for the whole run; its database lives in a scratch directory.
class LocalPlatform {
 public:
  LocalPlatform()
      : dir_(created(fs::temp_directory_path() / ("tamrik-bench-platform-" + std::to_string(::getpid())))),
        storage_(dir_ / "platform.sqlite"),
        context_(std::nullopt),
        keys_({kKey}, "") {
    platform::install_routes(server_, storage_, context_, callers_);
    server_.set_logger([](const httplib::Request&, const httplib::Response&) {});
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    project_ = client::resolve_project(kKey, url(), "git@example.com:bench/upload.git", std::nullopt)["projectId"];
  }
  ~LocalPlatform() {
    server_.stop();
    thread_.join();
    fs::remove_all(dir_);
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  long long project() const { return project_; }

 private:
  fs::path dir_;
  platform::SqliteStorage storage_;
  platform::ContextFiles context_;
  platform::ApiKeys keys_;
  platform::Callers callers_{keys_, storage_};
  httplib::Server server_;
  int port_ = 0;
  long long project_ = 0;
  std::thread thread_;
};

LocalPlatform& local_platform() {
  static LocalPlatform instance;
  return instance;
}

// A ledger record with its archived attestation, about 1.2 KB as JSON.
Json record(long n) {
  return {{"commit", std::to_string(n) + std::string(40 - std::to_string(n).size(), 'a')},
          {"branch", "feature/upload-speed"},
          {"timestamp", "2024-05-01T10:00:00+00:00"},
          {"agent", "claude-code"},
          {"summary", "Add rate limiting to the upload client and retry on 503 responses"},
          {"synced", false},
          {"attestation",
           {{"model", "claude-sonnet"},
            {"summary", "Rate limiting for uploads"},
            {"staged_diff_hash", std::string(64, 'f')},
            {"provenance", {{"prompts", Json::array({"make uploads resilient", "add tests"})}}},
            {"notes", std::string(600, 'n')}}}};
}

void BM_UploadBatch(benchmark::State& state) {
  LocalPlatform& local = local_platform();
  const long size = state.range(0);
  static long next_commit = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Json batch = Json::array();
    for (long i = 0; i < size; ++i) batch.push_back(record(next_commit++));
    state.ResumeTiming();
    benchmark::DoNotOptimize(client::upload_attestations(kKey, local.url(), local.project(), batch));
  }
  state.SetItemsProcessed(state.iterations() * size);
  state.counters["requests/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ResolveRoundTrip(benchmark::State& state) {
  LocalPlatform& local = local_platform();
  for (auto _ : state) {
    benchmark::DoNotOptimize(client::resolve_project(kKey, local.url(), "git@example.com:bench/upload.git", 1));
  }
  state.counters["requests/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_UploadBatch)->Arg(1)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResolveRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
