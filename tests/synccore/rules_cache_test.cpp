#include "synccore/rules_cache.hpp"

#include "core/json.hpp"
#include "host/paths.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>

namespace tamrik::synccore {
namespace {

using testing::TempDir;
using testing::write_text;

void set_status(const TempDir& dir, int status) {
  write_text(dir / "config.yaml", "cache:\n  fetch_status:\n    tamrikrules: " + std::to_string(status) + "\n");
}

TEST(RulesCacheState, CountsRulesAndKnowsWhenToTrustThem) {
  TempDir dir;
  RulesCacheState state = read_rules_cache_state(dir.path());
  EXPECT_EQ(state.count, std::nullopt);
  EXPECT_FALSE(state.fetch_failed());
  EXPECT_EQ(state.describe(), "not cached \u2014 run 'tamrik sync'");

  set_status(dir, 401);
  EXPECT_EQ(read_rules_cache_state(dir.path()).describe(), "unavailable \u2014 last sync could not reach tamrik");

  write_text(dir / "tamrikrules.yaml",
             "principles:\n  a: 1\n  b: 2\n  c: 3\nchecks:\n  - 1\n  - 2\n  - 3\n  - 4\n  - 5\nother:\n  x: 1\n");
  state = read_rules_cache_state(dir.path());
  EXPECT_EQ(state.count, 3);
  EXPECT_FALSE(state.trustworthy());
  EXPECT_EQ(state.describe(), "3 (stale \u2014 last sync could not reach tamrik)");

  set_status(dir, 304);
  state = read_rules_cache_state(dir.path());
  EXPECT_TRUE(state.trustworthy());
  EXPECT_EQ(state.describe(), "3");

  write_text(dir / "tamrikrules.yaml", "");
  EXPECT_EQ(read_rules_cache_state(dir.path()).count, 0);
  EXPECT_TRUE(read_rules_cache_state(dir.path()).trustworthy());

  write_text(dir / "tamrikrules.yaml", "- a list\n");
  state = read_rules_cache_state(dir.path());
  EXPECT_TRUE(state.unreadable);
  EXPECT_EQ(state.describe(), "unreadable \u2014 run 'tamrik sync' to repair the cache");
  write_text(dir / "tamrikrules.yaml", "principles: [unclosed\n");
  EXPECT_TRUE(read_rules_cache_state(dir.path()).unreadable);
  write_text(dir / "tamrikrules.yaml", "principles: {a: \"\xff\xfe\"}\n");
  EXPECT_TRUE(read_rules_cache_state(dir.path()).unreadable);
}

TEST(SessionSummary, ReportsTheCacheAndTheRealLedger) {
  TempDir repo;
  const path cache = paths::platform_dir(repo.path());
  EXPECT_EQ(generate_session_summary(cache, "", ""),
            "tamrik session context loaded\n  elements: 0\n  rules: not cached \u2014 run 'tamrik sync'\n"
            "  specs: 0\n  cache: empty \u2014 run 'tamrik sync' to populate");

  write_text(cache / "tamrikstate.yaml",
             "architecture:\n  elements:\n    api: {kind: service}\n    db: {}\n    x: 1\n");
  write_text(cache / "tamrikrules.yaml", "adrs:\n  one: x\n");
  for (const char* name : {"a.md", "b.yml", "c.txt"}) write_text(cache / "specs" / name, "x");
  std::filesystem::create_directories(cache / "specs" / "sub.md");
  write_text(paths::log_jsonl(repo.path()), core::to_json_line(testing::ledger_entry(testing::fake_sha(1))) + "\n" +
                                                core::to_json_line(testing::ledger_entry(testing::fake_sha(2))) + "\n");
  EXPECT_EQ(generate_session_summary(cache, "42", "claude-code"),
            "tamrik session context loaded\n  project: 42\n  agent: claude-code\n  elements: 2\n  rules: 1\n"
            "  specs: 2\n  cache: fresh\n  2 attestation(s) pending upload \u2014 run 'tamrik sync'");
  EXPECT_NE(generate_session_summary(cache, "", "").find("2 attestation(s) recorded locally, waiting for a project"),
            std::string::npos);

  write_text(cache / "config.yaml", "cache:\n  fetch_status:\n    tamrikrules: 500\n");
  EXPECT_NE(generate_session_summary(cache, "", "").find("  cache: incomplete \u2014 run 'tamrik sync' to refresh"),
            std::string::npos);

  const struct utimbuf old_times { std::time(nullptr) - 2 * 86400, std::time(nullptr) - 2 * 86400 };
  ::utime((cache / "tamrikstate.yaml").c_str(), &old_times);
  EXPECT_NE(generate_session_summary(cache, "", "").find("  cache: stale \u2014 run 'tamrik sync' to refresh"),
            std::string::npos);
}

TEST(RefreshLocalStaticFiles, WritesTheExampleAndNeverFails) {
  TempDir repo;
  _refresh_local_static_files(repo.path());
  EXPECT_FALSE(testing::read_text(paths::example_attestation(repo.path())).empty());
  // A file where the .tamrik directory should be: logged, not thrown.
  TempDir blocked;
  write_text(blocked / ".tamrik", "not a directory");
  _refresh_local_static_files(blocked.path());
}

}  // namespace
}  // namespace tamrik::synccore
