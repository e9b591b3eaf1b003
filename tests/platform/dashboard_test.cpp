// The dashboard over real HTTP: signing in and out, what each page lists,
// and hostile records shown as text only, on either database.

#include "platform/pg_connection.hpp"
#include "platform/platform_client.hpp"
#include "platform/postgres_cluster.hpp"

#include <sqlite3.h>

#include <regex>

namespace tamrik::testing {
namespace {

using core::Json;

constexpr const char* kPolicy =
    "default-src 'none'; style-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";
const std::string kHostile =
    "<script>window.pwned=1</script>\"><img src=x onerror=alert(1)> <a href=\"javascript:alert(2)\">x</a> "
    "\xE2\x80\xAE"
    "dlrow\xE2\x81\xA6";

Json record(int n, const std::string& agent, bool attested, const std::string& summary) {
  char day[32];
  std::snprintf(day, sizeof day, "2026-%02d-%02dT12:00:00Z", 1 + n / 28 % 12, 1 + n % 28);
  Json entry = {
      {"commit", "c" + std::to_string(1000 + n)},
      {"timestamp", day},
      {"agent", agent},
      {"branch", "main"},
      {"summary", summary},
      {"telemetry", {{"model", agent == "codex" ? "gpt-5" : "opus"}, {"tokens", {{"input", 10}, {"output", 5}}}}},
      {"attestation", {{"task_type", n % 2 == 0 ? "feature" : "fix"}}}};
  if (!attested) entry["event"] = "commit_unattested";
  return entry;
}

// The token the sign-in form sets in its cookie and expects back.
std::string sign_in_token(httplib::Client& client) {
  const std::string set = client.Get("/dashboard/sign-in")->get_header_value("Set-Cookie");
  const size_t start = set.find('=') + 1;
  return set.substr(start, set.find(';') - start);
}

// Signs in through the form; the session cookie ("tamrik_session=..."),
// or "" when refused.
std::string session_cookie(int port, const std::string& key) {
  httplib::Client client("127.0.0.1", port);
  const std::string token = sign_in_token(client);
  auto answer = client.Post("/dashboard/sign-in", {{"Cookie", "tamrik_sign_in=" + token}},
                            "form_token=" + token + "&key=" + key, "application/x-www-form-urlencoded");
  if (answer->status != 303) return "";
  const std::string cookie = answer->get_header_value("Set-Cookie");
  return cookie.substr(0, cookie.find(';'));
}

size_t rows_of(const std::string& body) {
  size_t count = 0;
  for (size_t at = body.find("<td class=\"hash\">"); at != std::string::npos;
       at = body.find("<td class=\"hash\">", at + 1)) {
    ++count;
  }
  return count;
}

class Dashboard : public PlatformClientTest {
 protected:
  Dashboard() { id_ = project("git@example.com:acme/widgets.git"); }

  void upload(const std::vector<Json>& records) {
    ASSERT_EQ(post(attestations(id_), Json{{"attestations", records}}).status, 200);
  }

  httplib::Client client() const { return httplib::Client("127.0.0.1", platform_.port()); }

  std::string sign_in(const std::string& key) { return session_cookie(platform_.port(), key); }

  httplib::Result page(const std::string& path, const std::string& cookie) {
    return client().Get(path, {{"Cookie", cookie}});
  }

  size_t listed(const std::string& query, const std::string& cookie) {
    auto answer = page("/dashboard/projects/" + std::to_string(id_) + "?" + query, cookie);
    EXPECT_EQ(answer->status, 200) << query;
    return rows_of(answer->body);
  }

  long long id_ = 0;
};

TEST_F(Dashboard, SignsInWithAKeyOnAFormAndOut) {
  EXPECT_EQ(page("/dashboard", "")->get_header_value("Location"), "/dashboard/sign-in");
  EXPECT_EQ(sign_in("wrong-key"), "");

  // A form posted without the token its page set (another site's) is refused.
  auto forged = client().Post("/dashboard/sign-in", "form_token=x&key=" + key(), "application/x-www-form-urlencoded");
  EXPECT_EQ(forged->status, 403);
  EXPECT_EQ(forged->get_header_value("Set-Cookie").find("tamrik_session"), std::string::npos);

  httplib::Client browser = client();
  const std::string token = sign_in_token(browser);
  auto answer =
      browser.Post("/dashboard/sign-in", {{"Cookie", "tamrik_sign_in=" + token}, {"X-Forwarded-Proto", "https"}},
                   "form_token=" + token + "&key=" + key(), "application/x-www-form-urlencoded");
  ASSERT_EQ(answer->status, 303);
  const std::string set = answer->get_header_value("Set-Cookie");
  EXPECT_TRUE(set.starts_with("tamrik_session=tamrik_")) << set;
  for (const char* attribute : {"; HttpOnly", "; SameSite=Strict", "; Secure", "; Path=/dashboard"}) {
    EXPECT_NE(set.find(attribute), std::string::npos) << attribute;
  }
  const std::string cookie = sign_in(key());
  ASSERT_NE(cookie, "");
  auto home = page("/dashboard", cookie);
  EXPECT_EQ(home->status, 200);
  EXPECT_NE(home->body.find(">widgets</a>"), std::string::npos);

  // Signing out needs the session's form token; then the cookie opens nothing.
  const std::smatch found = [&] {
    std::smatch match;
    std::regex_search(home->body, match, std::regex("name=\"form_token\" value=\"([a-z0-9_]+)\""));
    return match;
  }();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(
      client()
          .Post("/dashboard/sign-out", {{"Cookie", cookie}}, "form_token=wrong", "application/x-www-form-urlencoded")
          ->status,
      403);
  EXPECT_EQ(page("/dashboard", cookie)->status, 200);
  EXPECT_EQ(client()
                .Post("/dashboard/sign-out", {{"Cookie", cookie}}, "form_token=" + found[1].str(),
                      "application/x-www-form-urlencoded")
                ->status,
            303);
  EXPECT_EQ(page("/dashboard", cookie)->status, 303);
}

TEST_F(Dashboard, HostileRecordsAreShownAsTextOnly) {
  Json hostile = record(1, "\"><script>alert(3)</script>", true, kHostile);
  hostile["commit"] = "h\"><script>alert(4)</script>";
  hostile["rewritten_from"] = {"javascript:alert(5)"};
  hostile["telemetry"]["model"] = "<b onmouseover=alert(6)>";
  upload({hostile, record(2, "codex", false, "plain")});
  const std::string cookie = sign_in(key());
  const std::string project = "/dashboard/projects/" + std::to_string(id_);
  for (const std::string& path : {std::string("/dashboard"), project, project + "/charts", project + "?q=script",
                                  project + "/records/" + "h%22%3E%3Cscript%3Ealert%284%29%3C%2Fscript%3E"}) {
    auto answer = page(path, cookie);
    ASSERT_EQ(answer->status, 200) << path;
    EXPECT_EQ(answer->get_header_value("Content-Security-Policy"), kPolicy);
    EXPECT_EQ(answer->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(answer->get_header_value("Referrer-Policy"), "no-referrer");
    const std::string& body = answer->body;
    for (const char* injected : {"<script", "<img", "<b ", "<a href=\"javascript", "\xE2\x80\xAE", "\xE2\x81\xA6"}) {
      EXPECT_EQ(body.find(injected), std::string::npos) << path << " holds " << injected;
    }
    // Every link is one of the dashboard's own paths.
    const std::regex href("href=\"([^\"]*)\"");
    for (auto link = std::sregex_iterator(body.begin(), body.end(), href); link != std::sregex_iterator(); ++link) {
      EXPECT_TRUE((*link)[1].str().starts_with("/dashboard")) << path << ": " << (*link)[1];
    }
  }
  auto listing = page(project, cookie)->body;
  EXPECT_NE(listing.find("&lt;script&gt;window.pwned=1&lt;/script&gt;&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"),
            std::string::npos);
  auto shown = page(project + "/records/h%22%3E%3Cscript%3Ealert%284%29%3C%2Fscript%3E", cookie)->body;
  EXPECT_NE(shown.find("href=\"/dashboard/projects/" + std::to_string(id_) + "/records/javascript%3Aalert%285%29\""),
            std::string::npos);
}

TEST_F(Dashboard, ListsWithTheFiltersOfLogAndPages) {
  std::vector<Json> records;
  for (int n = 0; n < 120; ++n) {
    records.push_back(record(n, n % 3 == 0 ? "codex" : "claude-code", n % 4 != 0, n == 77 ? "Fix the Parser" : "work"));
  }
  upload(records);
  const std::string cookie = sign_in(key());
  EXPECT_EQ(listed("agent=CODEX", cookie), 40u);
  EXPECT_EQ(listed("model=gpt&attested=no", cookie), 10u);  // n % 12 == 0
  EXPECT_EQ(listed("attested=yes", cookie), 50u);           // a page of 90
  EXPECT_EQ(listed("task_type=fix&agent=claude", cookie), 40u);
  EXPECT_EQ(listed("q=parser", cookie), 1u);
  EXPECT_EQ(listed("developer=nobody", cookie), 0u);
  EXPECT_EQ(listed("since=2026-02-01&until=2026-03-01", cookie), 28u);  // n from 28 to 55
  EXPECT_EQ(page("/dashboard/projects/" + std::to_string(id_) + "?since=yesterday", cookie)->status, 400);

  // Newest first, 50 a page, the cursor keeping the filters.
  std::string path = "/dashboard/projects/" + std::to_string(id_) + "?agent=claude";
  std::vector<size_t> pages;
  while (!path.empty()) {
    const std::string body = page(path, cookie)->body;
    pages.push_back(rows_of(body));
    if (pages.size() == 1) {
      EXPECT_LT(body.find("c1119"), body.find("c1118"));
    }
    std::smatch next;
    path = std::regex_search(body, next, std::regex("href=\"([^\"]*)\" rel=\"next\"")) ? next[1].str() : "";
    path = std::regex_replace(path, std::regex("&amp;"), "&");
  }
  EXPECT_EQ(pages, (std::vector<size_t>{50, 30}));
}

TEST_F(Dashboard, ChartsCountTheRecordsAndAnotherTeamSeesNothing) {
  std::vector<Json> records;
  for (int n = 0; n < 20; ++n) records.push_back(record(n, n < 5 ? "codex" : "claude-code", n % 2 == 0, "w"));
  upload(records);
  const std::string cookie = sign_in(key());
  const std::string charts = page("/dashboard/projects/" + std::to_string(id_) + "/charts", cookie)->body;
  EXPECT_NE(charts.find("20 commits recorded in the weeks shown, 50 % of them attested."), std::string::npos);
  size_t svgs = 0;
  for (size_t at = charts.find("<svg"); at != std::string::npos; at = charts.find("<svg", at + 1)) ++svgs;
  EXPECT_EQ(svgs, 3u);

  EXPECT_EQ(page("/dashboard/projects/999/charts", cookie)->status, 404);

  // A member of another team signs in and finds no project of this one.
  const auto admin = [this](std::vector<std::string> args) {
    args.insert(args.begin(), platform_binary());
    args.insert(args.end(), {"--db", platform_.db()});
    return run_command(args).out;
  };
  admin({"teams", "add", "beta"});
  admin({"members", "add", "bob", "--team", "2"});
  std::string bob_key = admin({"keys", "add", "--member", "1"});
  bob_key.pop_back();
  bob_key = bob_key.substr(bob_key.rfind('\n') + 1);
  const std::string bob = sign_in(bob_key);
  ASSERT_NE(bob, "");
  EXPECT_EQ(page("/dashboard", bob)->body.find("widgets"), std::string::npos);
  EXPECT_EQ(page("/dashboard/projects/" + std::to_string(id_), bob)->status, 404);
  EXPECT_EQ(page("/dashboard/projects/" + std::to_string(id_) + "/records/nothing", cookie)->status, 404);
}

// Turns a database back into the version before the dashboard's table.
void drop_record_facts(const std::string& database) {
  if (postgres_selected()) {
    platform::pg::Connection db(database);
    db.exec("DROP TABLE record_facts; UPDATE schema_version SET version = 1");
    return;
  }
  sqlite3* db = nullptr;
  const bool dropped =
      sqlite3_open(database.c_str(), &db) == SQLITE_OK &&
      sqlite3_exec(db, "DROP TABLE record_facts; PRAGMA user_version = 2;", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  if (!dropped) throw std::runtime_error("cannot drop record_facts");
}

// A database of the version before the dashboard: its records are listed
// once a server of this version opened it.
TEST_F(Dashboard, RecordsStoredBeforeTheDashboardAreListed) {
  upload({record(1, "codex", true, "older"), record(2, "codex", true, "older")});
  platform_.stop();
  drop_record_facts(platform_.db());
  PlatformProcess again(PlatformOptions{.db = platform_.db()});
  httplib::Client reopened("127.0.0.1", again.port());
  auto listing = reopened.Get("/dashboard/projects/" + std::to_string(id_),
                              {{"Cookie", session_cookie(again.port(), again.key())}});
  ASSERT_EQ(listing->status, 200);
  EXPECT_EQ(rows_of(listing->body), 2u);
}

}  // namespace
}  // namespace tamrik::testing
