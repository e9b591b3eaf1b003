// The dashboard's pages with 100,000 records stored in one project, each
// page one GET on loopback from a signed-in client to a tamrik-platform
// process started here (its own process, on a free port): what a page
// costs the server, with the round trip on top. SQLite by default;
// TAMRIK_TEST_DB=postgresql runs the same on a throwaway PostgreSQL
// cluster (vacuumed after the upload, as autovacuum leaves it). Every page
// must stay under 150 ms.
//
//   BM_Page/projects           the project list
//   BM_Page/records            the newest 50 records
//   BM_Page/older              a page deep in the project (cursor halfway)
//   BM_Page/filtered           agent, model and attested filters together
//   BM_Page/search_nothing     a summary search that matches no record: a
//                              pass over every record's facts
//   BM_Page/record             one record laid out
//   BM_Page/charts             weekly counts by agent, tokens by model

#include "core/json.hpp"
#include "core/sha256.hpp"
#include "platform/pg_connection.hpp"
#include "platform/platform_process.hpp"
#include "platform/postgres_cluster.hpp"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using tamrik::core::Json;
namespace testing = tamrik::testing;

constexpr long kRecords = 100'000;
constexpr long kBatch = 2'000;
const char* const kAgents[] = {"claude-code", "codex", "cursor", "gemini-cli"};
const char* const kModels[] = {"claude-opus-4", "gpt-5", "composer-1", "gemini-2.5-pro"};

std::string commit(long n) { return tamrik::core::sha256_hex("c" + std::to_string(n)).substr(0, 40); }

// A record as clients upload it, with its attestation; a year and a half
// of commits, newest last.
Json record(long n) {
  const long agent = n % 7 == 0 ? 1 : n % 11 == 0 ? 2 : n % 13 == 0 ? 3 : 0;
  char timestamp[32];
  const long day = n * 540 / kRecords;
  std::snprintf(timestamp, sizeof timestamp, "2025-%02ld-%02ldT%02ld:%02ld:00Z", 1 + day / 28 % 12, 1 + day % 28,
                n % 24, n % 60);
  Json entry = {
      {"commit", commit(n)},
      {"branch", "feature/upload-speed"},
      {"timestamp", timestamp},
      {"agent", kAgents[agent]},
      {"summary", "Add rate limiting to the upload client and retry on 503 responses (" + std::to_string(n) + ")"},
      {"developer", {{"git_author_name", "Dana Developer"}, {"git_author_email", "dana@example.com"}}},
      {"telemetry",
       {{"model", kModels[agent]},
        {"session_id", "5f0c9a1e-7b2d-4c3e-9a8f-1d2e3f4a5b6c"},
        {"tokens", {{"input", 1200 + n % 500}, {"output", 800 + n % 300}, {"cache_read", 40000 + n % 900}}}}},
      {"attestation",
       {{"task_type", n % 3 == 0 ? "fix" : "feature"},
        {"provenance", {{"files", {"src/upload.cpp", "src/retry.cpp"}}}},
        {"rules", {{"checked", {"no secrets in logs", "retries are bounded"}}}}}}};
  if (n % 5 == 0) entry["event"] = "commit_unattested";
  return entry;
}

httplib::Headers bearer(const std::string& key) { return {{"Authorization", "Bearer " + key}}; }

// One server holding the records, and a signed-in session on it.
class FilledPlatform {
 public:
  FilledPlatform() {
    httplib::Client client = this->client();
    const auto resolved = client.Post("/v1/projects/resolve", bearer(platform_.key()),
                                      R"({"remote":"git@example.com:bench/dashboard.git"})", "application/json");
    project_ = "/dashboard/projects/" +
               std::to_string(tamrik::core::parse_json_or_throw(resolved->body)["projectId"].get<long>());
    const std::string upload = "/v1/projects/" + project_.substr(project_.rfind('/') + 1) + "/attestations";
    for (long first = 0; first < kRecords; first += kBatch) {
      Json batch = Json::array();
      for (long n = first; n < first + kBatch; ++n) batch.push_back(record(n));
      const auto stored =
          client.Post(upload, bearer(platform_.key()), Json{{"attestations", batch}}.dump(), "application/json");
      if (!stored || stored->status != 200) throw std::runtime_error("the records could not be stored");
    }
    // What autovacuum does a minute after a bulk upload: without it a
    // fresh table's index-only scans still visit every row.
    if (testing::postgres_selected()) tamrik::platform::pg::Connection(platform_.db()).exec("VACUUM ANALYZE");
    cookie_ = signed_in();
  }

  httplib::Client client() const {
    httplib::Client client("127.0.0.1", platform_.port());
    client.set_read_timeout(std::chrono::seconds(60));
    client.set_keep_alive(true);
    return client;
  }
  const std::string& project() const { return project_; }
  const std::string& cookie() const { return cookie_; }

 private:
  std::string signed_in() {
    httplib::Client client = this->client();
    const std::string set = client.Get("/dashboard/sign-in")->get_header_value("Set-Cookie");
    const std::string token = set.substr(set.find('=') + 1, set.find(';') - set.find('=') - 1);
    const auto answer =
        client.Post("/dashboard/sign-in", {{"Cookie", "tamrik_sign_in=" + token}},
                    "form_token=" + token + "&key=" + platform_.key(), "application/x-www-form-urlencoded");
    const std::string cookie = answer->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
  }

  testing::PlatformProcess platform_;
  std::string project_;
  std::string cookie_;
};

FilledPlatform& filled() {
  static FilledPlatform platform;
  return platform;
}

void page(benchmark::State& state, const std::string& path) {
  FilledPlatform& platform = filled();
  httplib::Client client = platform.client();
  const std::string url = path.starts_with("/dashboard") ? path : platform.project() + path;
  for (auto _ : state) {
    const auto answer = client.Get(url, {{"Cookie", platform.cookie()}});
    if (!answer || answer->status != 200) {
      state.SkipWithError(("GET " + url + " did not answer 200").c_str());
      return;
    }
    benchmark::DoNotOptimize(answer->body.size());
  }
}

}  // namespace

BENCHMARK_CAPTURE(page, projects, std::string("/dashboard"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(page, records, std::string(""))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(page, older, std::string("?before=50000"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(page, filtered, std::string("?agent=codex&model=gpt&attested=no&task_type=fix"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(page, search_nothing, std::string("?q=no+summary+says+this"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(page, record, "/records/" + commit(kRecords / 2))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(page, charts, std::string("/charts"))->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  testing::PostgresCluster::remove_shared();
  return 0;
}
