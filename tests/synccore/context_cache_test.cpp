// The context-cache refresh against a real tamrik-platform serving a context
// directory: what it writes, what it records, and whether the rules cache
// state and the session summary tell the truth after a fresh fetch, a
// confirmation (304), a refusal (401) and no answer at all.

#include "synccore/context_refresh.hpp"

#include "core/file_io.hpp"
#include "core/log.hpp"
#include "core/yaml.hpp"
#include "host/agent_fixtures.hpp"
#include "host/paths.hpp"
#include "host/protocol/http_client.hpp"
#include "host/services/shared.hpp"
#include "platform/platform_process.hpp"
#include "support/debug_lines.hpp"
#include "support/test_env.hpp"
#include "synccore/rules_cache.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <map>

namespace tamrik::synccore {
namespace {

namespace fs = std::filesystem;
using testing::read_text;
using testing::TempDir;
using testing::write_text;
using testing::agent_fixtures::ScopedEnv;

constexpr const char* kContextKey = "sk-context-test-0123456789";

// Five rules (three principles, two checks), two architecture elements,
// two specs, and one of everything else.
void write_context(const fs::path& dir) {
  write_text(dir / "rules.yaml",
             "principles:\n  p1: {text: one}\n  p2: {text: two}\n  p3: {text: three}\n"
             "checks:\n  c1: {text: a}\n  c2: {text: b}\nadrs: {}\n");
  write_text(dir / "state.yaml", "architecture:\n  elements:\n    api: {kind: service}\n    db: {kind: store}\n");
  write_text(dir / "specs" / "a.md", "# A\n");
  write_text(dir / "specs" / "b.md", "# B\n");
  write_text(dir / "guardrails.yaml", "no-secrets: {text: never commit keys}\n");
  write_text(dir / "memories.yaml", "- the build needs two cores\n");
  write_text(dir / "docs" / "guide.md", "# Guide\n");
  write_text(dir / "skills" / "review" / "SKILL.md", "# Review\n");
  write_text(dir / "skills" / "review" / "notes" / "extra.md", "more\n");
  write_text(dir / "systems" / "api.yaml", "owner: team-api\n");
}

// Every file under `root` outside .tamrik, with its content.
std::map<std::string, std::string> workspace_files(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path().filename() == ".tamrik") {
      it.disable_recursion_pending();
    } else if (it->is_regular_file()) {
      files[it->path().lexically_relative(root).string()] = read_text(it->path());
    }
  }
  return files;
}

void make_old(const fs::path& file) {
  const timeval two_days_ago[2] = {{time(nullptr) - 2 * 86400, 0}, {time(nullptr) - 2 * 86400, 0}};
  ASSERT_EQ(::utimes(file.c_str(), two_days_ago), 0);
}

class RefreshFromPlatform : public ::testing::Test {
 protected:
  // The platform reads its context directory at each request, so it can be
  // filled, and changed, after the server started.
  RefreshFromPlatform() : platform_({.api_keys = {kContextKey}, .context_dir = context_.path()}) {
    write_context(context_.path());
    project_ = protocol::http_client::resolve_project(kContextKey, platform_.url(), "git@example.com:acme/context.git",
                                                      std::nullopt)["projectId"];
    services::shared::save_local_config(root(), {{"project_id", project_}, {"agents", {"claude-code"}}});
  }

  const fs::path& root() const { return repo_.path(); }
  fs::path cache() const { return paths::platform_dir(root()); }
  RefreshResult refresh(std::string_view key = kContextKey, bool mutate_workspace = false) const {
    return refresh_context_cache_detailed(key, platform_.url(), root(), project_, mutate_workspace);
  }
  Json recorded(const char* section) const { return services::shared::load_local_config(root())["cache"][section]; }
  std::string summary() const { return generate_session_summary(cache(), "", ""); }
  bool summary_has(const std::string& line) const {
    return ("\n" + summary() + "\n").find("\n" + line + "\n") != std::string::npos;
  }

  TempDir context_;
  testing::PlatformProcess platform_;
  Json project_;
  TempDir repo_;
  ScopedEnv no_installer_{{"TAMRIK_SKIP_PLATFORM_SKILLS", "1"}};
};

TEST_F(RefreshFromPlatform, FirstFetchFillsTheCacheAndTheNextIsConfirmedUnchanged) {
  const RefreshResult first = refresh();
  ASSERT_TRUE(first) << (first.stage ? stage_name(*first.stage) : "") << " " << first.error.value_or("");
  EXPECT_EQ(read_text(cache() / "specs" / "a.md"), "# A\n");
  EXPECT_EQ(read_text(cache() / "docs" / "guide.md"), "# Guide\n");
  EXPECT_EQ(read_text(cache() / "skills" / "review" / "notes" / "extra.md"), "more\n");
  EXPECT_EQ(core::load_yaml(read_text(cache() / "context.yaml"))["systems"]["api"]["owner"], "team-api");
  EXPECT_EQ(core::load_yaml(read_text(cache() / "memories.yaml")), Json({"the build needs two cores"}));
  EXPECT_EQ(recorded("fetch_status")["tamrikrules"], 200);
  ASSERT_TRUE(recorded("etags")["tamrikrules"].is_string());
  ASSERT_TRUE(recorded("etags")["specs"].is_string());
  const RulesCacheState state = read_rules_cache_state(cache());
  EXPECT_EQ(state.count, 5);
  EXPECT_TRUE(state.trustworthy());
  for (const char* line : {"  elements: 2", "  rules: 5", "  specs: 2", "  cache: fresh"}) {
    EXPECT_TRUE(summary_has(line)) << line << " in\n" << summary();
  }

  const std::string rules_before = read_text(cache() / "tamrikrules.yaml");
  make_old(cache() / "tamrikrules.yaml");
  make_old(cache() / "tamrikstate.yaml");
  ASSERT_TRUE(summary_has("  cache: stale — run 'tamrik sync' to refresh"));

  ASSERT_TRUE(refresh());
  EXPECT_EQ(recorded("fetch_status")["tamrikrules"], 304);
  EXPECT_EQ(recorded("fetch_status")["tamrikstate"], 304);
  EXPECT_EQ(recorded("fetch_status")["specs"], 304);
  EXPECT_EQ(read_text(cache() / "tamrikrules.yaml"), rules_before);
  EXPECT_TRUE(read_rules_cache_state(cache()).trustworthy());
  EXPECT_TRUE(summary_has("  cache: fresh")) << "a confirmed copy is as fresh as a new one";

  write_text(context_.path() / "rules.yaml", "principles:\n  p1: {text: one}\n");
  fs::remove(context_.path() / "specs" / "b.md");
  ASSERT_TRUE(refresh());
  EXPECT_EQ(recorded("fetch_status")["tamrikrules"], 200);
  EXPECT_EQ(read_rules_cache_state(cache()).count, 1);
  EXPECT_FALSE(fs::exists(cache() / "specs" / "b.md")) << "a spec the project dropped leaves the cache";
}

TEST_F(RefreshFromPlatform, RefusedFetchKeepsTheCacheButMarksItStale) {
  ASSERT_TRUE(refresh());
  const std::string rules_before = read_text(cache() / "tamrikrules.yaml");

  const RefreshResult refused = refresh("sk-revoked-key-000000000");
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.stage, RefreshStage::fetch);
  EXPECT_EQ(refused.error, "AgentApiError");
  EXPECT_EQ(refused.log_path, std::nullopt) << "no debug log while debugging is off";
  EXPECT_EQ(recorded("fetch_status")["tamrikrules"], 401);
  EXPECT_EQ(read_text(cache() / "tamrikrules.yaml"), rules_before);
  EXPECT_EQ(read_rules_cache_state(cache()).describe(), "5 (stale — last sync could not reach tamrik)");
  EXPECT_TRUE(summary_has("  cache: incomplete — run 'tamrik sync' to refresh")) << summary();

  const testing::DebugLines debug;
  const RefreshResult logged = refresh("sk-revoked-key-000000000");
  ASSERT_TRUE(logged.log_path);
  EXPECT_NE(read_text(*logged.log_path).find(" stage=fetch ---\nAgentApiError: "), std::string::npos);
}

TEST_F(RefreshFromPlatform, UnreachablePlatformLeavesTheCacheAsItWas) {
  ASSERT_TRUE(refresh());
  const std::string rules_before = read_text(cache() / "tamrikrules.yaml");
  TempDir never_synced;
  services::shared::save_local_config(never_synced.path(), {{"project_id", project_}});
  platform_.stop();

  const RefreshResult down = refresh();
  EXPECT_EQ(down.error, "ConnectionError");
  EXPECT_EQ(recorded("fetch_status")["tamrikrules"], 0);
  EXPECT_EQ(read_text(cache() / "tamrikrules.yaml"), rules_before);
  EXPECT_EQ(read_rules_cache_state(cache()).describe(), "5 (stale — last sync could not reach tamrik)");
  EXPECT_TRUE(summary_has("  cache: incomplete — run 'tamrik sync' to refresh")) << summary();

  EXPECT_FALSE(refresh_context_cache(kContextKey, platform_.url(), never_synced.path(), project_));
  EXPECT_EQ(read_rules_cache_state(paths::platform_dir(never_synced.path())).describe(),
            "unavailable — last sync could not reach tamrik");
}

TEST_F(RefreshFromPlatform, HookRefreshWritesOnlyInsideTamrikAndAnInteractiveOnePlacesSkillsAndGuidance) {
  write_text(root() / "README.md", "mine\n");
  write_text(root() / "CLAUDE.md", "# House rules\n");
  const auto before = workspace_files(root());
  ASSERT_TRUE(refresh(kContextKey, false));
  EXPECT_EQ(workspace_files(root()), before);

  ASSERT_TRUE(refresh(kContextKey, true));
  EXPECT_EQ(read_text(root() / ".claude" / "skills" / "review" / "SKILL.md"), "# Review\n");
  EXPECT_EQ(read_text(root() / ".claude" / "skills" / "review" / "notes" / "extra.md"), "more\n");
  EXPECT_EQ(read_text(root() / "CLAUDE.md"), "# House rules\n") << "a new guidance block waits for the switch";

  Json config = services::shared::load_local_config(root());
  config["guidance"] = true;
  services::shared::save_local_config(root(), config);
  ASSERT_TRUE(refresh(kContextKey, true));
  const std::string guidance = read_text(root() / "CLAUDE.md");
  EXPECT_TRUE(guidance.starts_with("# House rules\n<!-- >>> tamrik:")) << guidance;
  EXPECT_NE(guidance.find("`tamrik attest --help`"), std::string::npos) << guidance;
  EXPECT_FALSE(fs::exists(root() / "AGENTS.md")) << "codex is not configured";

  // A second interactive sync with nothing new changes no file outside .tamrik.
  const auto placed = workspace_files(root());
  std::map<std::string, fs::file_time_type> times;
  for (const auto& [file, text] : placed) {
    make_old(root() / file);
    times[file] = fs::last_write_time(root() / file);
  }
  ASSERT_TRUE(refresh(kContextKey, true));
  EXPECT_EQ(workspace_files(root()), placed);
  for (const auto& [file, time] : times) EXPECT_EQ(fs::last_write_time(root() / file), time) << file;
}

TEST_F(RefreshFromPlatform, WithoutAProjectNothingIsAskedAndNoErrorNamed) {
  const RefreshResult result = refresh_context_cache_detailed(kContextKey, platform_.url(), root(), Json(), false);
  EXPECT_FALSE(result);
  EXPECT_EQ(result.stage, RefreshStage::project);
  EXPECT_EQ(result.error, std::nullopt);
  EXPECT_FALSE(fs::exists(cache() / "tamrikrules.yaml"));
}

TEST_F(RefreshFromPlatform, OptionalFetchFailureIsLoggedAndNotFatal) {
  // Guardrails that are not a map: the platform fails that one endpoint.
  write_text(context_.path() / "guardrails.yaml", "- not a map\n");
  std::vector<std::string> lines;
  const testing::DebugLines debug;
  const core::LogSink previous = core::set_log_sink(
      [&](core::LogLevel, std::string_view, std::string_view message) { lines.emplace_back(message); });
  const RefreshResult result = refresh();
  core::set_log_sink(previous);

  EXPECT_TRUE(result) << (result.stage ? stage_name(*result.stage) : "");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Guardrails fetch failed (non-fatal): ServerError"), lines.end());
  EXPECT_EQ(recorded("fetch_status")["guardrails"], 500);
  EXPECT_FALSE(fs::exists(cache() / "guardrails.yaml"));
  EXPECT_EQ(read_rules_cache_state(cache()).count, 5);
}

}  // namespace
}  // namespace tamrik::synccore
