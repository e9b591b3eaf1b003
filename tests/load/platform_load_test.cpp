// Load on the platform alone: 64 clients at once upload 100-record batches
// of commits of their own to a few projects, with resolutions and listings
// mixed in, for TAMRIK_LOAD_SECONDS (10 by default; the full run is 60):
// against SQLite behind one server process, and against PostgreSQL behind
// two. Afterwards every record sent is held exactly once. Prints records per
// second and the uploads' p50 and p99 latency; speed is not asserted.

#include "core/json.hpp"
#include "platform/platform_process.hpp"
#include "platform/postgres_cluster.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace tamrik::testing {
namespace {

using core::Json;
using Clock = std::chrono::steady_clock;

const bool postgres_always = (register_postgres_environment(true), true);

constexpr int kClients = 64;
constexpr int kBatch = 100;
constexpr int kProjects = 4;

std::chrono::seconds load_time() {
  const char* text = std::getenv("TAMRIK_LOAD_SECONDS");
  const int seconds = text == nullptr ? 0 : std::atoi(text);
  return std::chrono::seconds(seconds > 0 ? seconds : 10);
}

Json batch(int client, int first) {
  Json records = Json::array();
  for (int n = first; n < first + kBatch; ++n) {
    records.push_back({{"commit", "w" + std::to_string(client) + "-" + std::to_string(n)},
                       {"agent", "codex"},
                       {"summary", "load"},
                       {"attestation", {{"agent", "codex"}, {"prompt", std::string(200, 'p')}}}});
  }
  return {{"attestations", records}};
}

struct Outcome {
  std::mutex mutex;
  std::vector<double> upload_ms;
  std::vector<long long> sent = std::vector<long long>(kProjects);  // accepted records, per project
  std::map<std::string, int> failures;                              // by status, or by the connection's error
};

// A request that got no 200. An answer of the server's is a failure of the
// test; a connection lost on a machine this loaded is counted and shown.
void record_failure(Outcome& outcome, const httplib::Result& result) {
  const std::string kind = result ? std::to_string(result->status) : httplib::to_string(result.error());
  const std::lock_guard lock(outcome.mutex);
  ++outcome.failures[kind];
}

void run_client(int client, const PlatformProcess& server, const std::vector<long long>& projects,
                Clock::time_point until, Outcome& outcome) {
  httplib::Client http("127.0.0.1", server.port());
  http.set_keep_alive(true);
  http.set_read_timeout(60);
  const httplib::Headers auth = {{"Authorization", "Bearer " + server.key()}};
  const std::string project = "/v1/projects/" + std::to_string(projects[client % kProjects]);
  std::vector<double> took;
  int sent = 0;
  for (int round = 0; Clock::now() < until; ++round) {
    const std::string body = core::to_json_compact(batch(client, sent));
    const auto started = Clock::now();
    const auto answer = http.Post(project + "/attestations", auth, body, "application/json");
    took.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    if (answer && answer->status == 200) {
      sent += kBatch;
    } else {
      // The batch stays pending and goes again, as a client's does.
      record_failure(outcome, answer);
    }
    if (round % 10 == 0) {
      const auto resolved =
          http.Post("/v1/projects/resolve", auth, R"({"remote": "git@h:load/p0"})", "application/json");
      const auto listed = http.Get(project + "/attestations?limit=100", auth);
      if (!resolved || resolved->status != 200) record_failure(outcome, resolved);
      if (!listed || listed->status != 200) record_failure(outcome, listed);
    }
  }
  const std::lock_guard lock(outcome.mutex);
  outcome.upload_ms.insert(outcome.upload_ms.end(), took.begin(), took.end());
  outcome.sent[client % kProjects] += sent;
}

// Every commit of the project's listing, paged through.
std::vector<std::string> held(const PlatformProcess& server, long long project) {
  httplib::Client http("127.0.0.1", server.port());
  const httplib::Headers auth = {{"Authorization", "Bearer " + server.key()}};
  std::vector<std::string> commits;
  while (true) {
    std::string path = "/v1/projects/" + std::to_string(project) + "/attestations?limit=1000";
    if (!commits.empty()) path += "&after=" + commits.back();
    const auto page = http.Get(path, auth);
    if (!page || page->status != 200) throw std::runtime_error("a listing failed");
    const Json records = core::parse_json_or_throw(page->body)["attestations"];
    if (records.empty()) return commits;
    for (const Json& record : records) commits.push_back(record["commit"]);
  }
}

void load(const std::string& label, const std::vector<std::unique_ptr<PlatformProcess>>& servers) {
  std::vector<long long> projects;
  for (int p = 0; p < kProjects; ++p) {
    httplib::Client http("127.0.0.1", servers[0]->port());
    const auto resolved = http.Post("/v1/projects/resolve", {{"Authorization", "Bearer " + servers[0]->key()}},
                                    R"({"remote": "git@h:load/p)" + std::to_string(p) + "\"}", "application/json");
    ASSERT_TRUE(resolved && resolved->status == 200);
    projects.push_back(core::parse_json_or_throw(resolved->body)["projectId"]);
  }
  Outcome outcome;
  const auto started = Clock::now();
  const auto until = started + load_time();
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back(run_client, c, std::cref(*servers[c % servers.size()]), std::cref(projects), until,
                         std::ref(outcome));
  }
  for (std::thread& client : clients) client.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

  for (const auto& [kind, count] : outcome.failures) {
    std::cout << label << ": " << count << " requests failed: " << kind << std::endl;
    EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(kind[0]))) << "the server answered " << kind;
  }
  long long total = 0;
  for (int p = 0; p < kProjects; ++p) {
    const std::vector<std::string> commits = held(*servers[(p + 1) % servers.size()], projects[p]);
    const std::set<std::string> distinct(commits.begin(), commits.end());
    EXPECT_EQ(static_cast<long long>(distinct.size()), outcome.sent[p]) << "lost records in project " << p;
    EXPECT_EQ(commits.size(), distinct.size()) << "duplicated records in project " << p;
    total += outcome.sent[p];
  }
  std::vector<double>& ms = outcome.upload_ms;
  ASSERT_FALSE(ms.empty());
  std::sort(ms.begin(), ms.end());
  std::cout << label << ": " << kClients << " clients, " << total << " records in " << seconds
            << " s: " << static_cast<long long>(static_cast<double>(total) / seconds) << " records/s; upload p50 "
            << ms[ms.size() / 2] << " ms, p99 " << ms[ms.size() * 99 / 100] << " ms" << std::endl;
}

PlatformOptions loaded(const std::string& db) {
  // Every client connects from 127.0.0.1.
  return PlatformOptions{.db = db, .args = {"--max-connections", "256", "--max-connections-per-client", "256"}};
}

TEST(PlatformLoad, SqliteBehindOneProcess) {
  TempDir dir;
  std::vector<std::unique_ptr<PlatformProcess>> servers;
  servers.push_back(std::make_unique<PlatformProcess>(loaded((dir / "load.sqlite").string())));
  load("sqlite, 1 process", servers);
}

TEST(PlatformLoad, PostgresBehindTwoProcesses) {
  const std::string db = PostgresCluster::shared().new_database();
  std::vector<std::unique_ptr<PlatformProcess>> servers;
  for (int i = 0; i < 2; ++i) servers.push_back(std::make_unique<PlatformProcess>(loaded(db)));
  load("postgresql, 2 processes", servers);
}

}  // namespace
}  // namespace tamrik::testing
