// Several tamrik-platform processes on one PostgreSQL database act as one
// platform, and a database that goes away makes requests fail, not the
// server.

#include "platform/platform_client.hpp"
#include "platform/postgres_cluster.hpp"

#include <future>
#include <set>
#include <thread>

namespace tamrik::testing {
namespace {

using core::Json;

const bool postgres_always = (register_postgres_environment(true), true);

Answer call(const PlatformProcess& platform, const std::string& path, const std::optional<Json>& body = {}) {
  httplib::Client client("127.0.0.1", platform.port());
  const httplib::Headers auth = {{"Authorization", "Bearer " + platform.key()}};
  return answer_of(body ? client.Post(path, auth, core::to_json_compact(*body), "application/json")
                        : client.Get(path, auth));
}

Json record(const std::string& commit, bool attested) {
  Json sent = {{"commit", commit}, {"agent", attested ? "codex" : "unknown"}, {"summary", attested ? "rich" : "bare"}};
  if (attested) sent["attestation"] = {{"agent", "codex"}};
  return sent;
}

TEST(PostgresPlatform, TwoServersOnOneDatabaseActAsOne) {
  const std::string uri = PostgresCluster::shared().new_database();
  // Started together, the two migrate the empty database once between them;
  // the second names it through the environment and the postgres:// scheme.
  auto second_started = std::async(std::launch::async, [&] {
    PlatformOptions options{.db = "", .env = {{"TAMRIK_PLATFORM_DB", "postgres://" + uri.substr(13)}}};
    return std::make_unique<PlatformProcess>(options);
  });
  PlatformProcess first(PlatformOptions{.db = uri});
  const std::unique_ptr<PlatformProcess> second = second_started.get();

  // Both resolve the same remotes at once: one project each.
  std::vector<std::future<Answer>> resolved;
  for (int i = 0; i < 16; ++i) {
    const PlatformProcess& server = i % 2 == 0 ? first : *second;
    resolved.push_back(std::async(std::launch::async, [&server, i] {
      return call(server, "/v1/projects/resolve", Json{{"remote", "git@h:acme/r" + std::to_string(i % 4)}});
    }));
  }
  std::map<long long, int> created;
  std::set<long long> ids;
  for (auto& answer : resolved) {
    const Answer got = answer.get();
    ASSERT_EQ(got.status, 200) << got.body;
    ids.insert(got.body["projectId"].get<long long>());
    created[got.body["projectId"]] += got.body["created"].get<bool>() ? 1 : 0;
  }
  EXPECT_EQ(ids.size(), 4u);
  for (const auto& [id, count] : created) EXPECT_EQ(count, 1) << id;

  // Both take uploads of the same commits at once, one bare, one attested:
  // one record per commit is kept, the attested one.
  const long long id = *ids.begin();
  const std::string path = "/v1/projects/" + std::to_string(id) + "/attestations";
  std::vector<std::future<Answer>> uploads;
  for (int batch = 0; batch < 6; ++batch) {
    const bool attested = batch % 2 == 0;
    const PlatformProcess& server = attested ? first : *second;
    uploads.push_back(std::async(std::launch::async, [&server, &path, attested] {
      Json records = Json::array();
      for (int i = 0; i < 100; ++i) records.push_back(record("c" + std::to_string(i), attested));
      return call(server, path, Json{{"attestations", records}});
    }));
  }
  for (auto& answer : uploads) EXPECT_EQ(answer.get().body["inserted"], 100);
  const Json all = call(first, path + "?limit=1000").body["attestations"];
  ASSERT_EQ(all.size(), 100u);
  for (const Json& kept : all) EXPECT_EQ(kept["summary"], "rich") << kept;

  // Paging through the other server walks the same list.
  Json paged = Json::array();
  std::string after;
  for (int page = 0; page < 20; ++page) {
    const Json got = call(*second, path + "?limit=30" + (after.empty() ? "" : "&after=" + after)).body["attestations"];
    if (got.empty()) break;
    for (const Json& listed : got) paged.push_back(listed);
    after = got.back()["commit"];
  }
  EXPECT_EQ(paged, all);
}

TEST(PostgresPlatform, ADatabaseThatGoesAwayIsA503UntilItReturns) {
  PostgresCluster& cluster = PostgresCluster::shared();
  PlatformProcess platform(PlatformOptions{.db = cluster.new_database()});
  const Json remote = {{"remote", "git@h:acme/away"}};
  ASSERT_EQ(call(platform, "/v1/projects/resolve", remote).status, 200);

  cluster.stop();
  for (int i = 0; i < 2; ++i) {
    const Answer away = call(platform, "/v1/projects/1/attestations");
    EXPECT_EQ(away.status, 503);
    EXPECT_EQ(error_code(away), "unavailable");
  }
  cluster.start();
  const Answer back = call(platform, "/v1/projects/resolve", remote);
  EXPECT_EQ(back.status, 200);
  EXPECT_EQ(back.body["created"], false);
  EXPECT_NE(platform.log().find("not reachable"), std::string::npos);
  EXPECT_EQ(platform.stop(), 0);
}

}  // namespace
}  // namespace tamrik::testing
