// The sync run end to end in real git repositories, against a real
// tamrik-platform on 127.0.0.1, and the diagnostics it shares with the
// context refresh and the command line.

#include "synccore/sync.hpp"

#include "core/file_io.hpp"
#include "core/log.hpp"
#include "host/agent_fixtures.hpp"
#include "host/hooks/scripts.hpp"
#include "host/paths.hpp"
#include "host/protocol/http_client.hpp"
#include "host/services/git_identity.hpp"
#include "host/services/setup_list.hpp"
#include "host/services/shared.hpp"
#include "platform/platform_process.hpp"
#include "support/debug_lines.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/ledger.hpp"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>

namespace tamrik::synccore {
namespace {

namespace fs = std::filesystem;
using testing::GitRepo;
using testing::read_text;
using testing::write_text;
using testing::agent_fixtures::ScopedEnv;

constexpr const char* kSyncKey = "sk-sync-test-0123456789";

// Debug lines logged while alive.
class DebugLines {
 public:
  DebugLines() {
    previous_ = core::set_log_sink([this](core::LogLevel level, std::string_view, std::string_view message) {
      if (level == core::LogLevel::debug) lines.emplace_back(message);
    });
  }
  ~DebugLines() { core::set_log_sink(previous_); }

  // Index of the first line starting with `prefix`, or -1.
  long find(std::string_view prefix) const {
    const auto it =
        std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
    return it == lines.end() ? -1 : it - lines.begin();
  }

  std::vector<std::string> lines;

 private:
  testing::DebugLines debug_;
  core::LogSink previous_;
};

fs::path sync_log(const GitRepo& repo) { return paths::platform_dir(repo.root()) / "logs" / "sync.log"; }

// ---------------------------------------------------------------------------
// Diagnostics

TEST(Diagnostics, DebugLogEntryHasItsHeaderAndStaysPrivate) {
  GitRepo repo;
  core::make_dirs(sync_log(repo).parent_path());
  write_text(sync_log(repo), "earlier entry\n");
  ASSERT_EQ(::chmod(sync_log(repo).c_str(), 0644), 0);

  const auto written = _write_sync_debug_log(repo.root(), "upload",
                                             protocol::http_client::TimeoutError("no answer from https://x.example"));
  ASSERT_EQ(written, sync_log(repo));
  const std::string text = read_text(*written);
  EXPECT_TRUE(std::regex_match(
      text, std::regex("earlier entry\n\n--- \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ stage=upload ---\n"
                       "TimeoutError: no answer from https://x.example\n")))
      << text;
  struct stat st {};
  ASSERT_EQ(::stat(written->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Diagnostics, DebugLogIsCutToItsTailOnlyOncePastTheCap) {
  GitRepo repo;
  core::make_dirs(sync_log(repo).parent_path());
  const std::runtime_error failure("boom");

  write_text(sync_log(repo), std::string(256000, 'a'));
  ASSERT_TRUE(_write_sync_debug_log(repo.root(), "sync", failure));
  std::string text = read_text(sync_log(repo));
  EXPECT_EQ(text.substr(0, 256001), std::string(256000, 'a') + "\n") << "a log at the cap is not cut";

  write_text(sync_log(repo), std::string(128001, 'x') + std::string(128000, 'y'));
  ASSERT_TRUE(_write_sync_debug_log(repo.root(), "sync", failure));
  text = read_text(sync_log(repo));
  EXPECT_EQ(text.find('x'), std::string::npos);
  EXPECT_EQ(text.substr(0, 128001), std::string(128000, 'y') + "\n");
  EXPECT_TRUE(text.ends_with("stage=sync ---\nRuntimeError: boom\n")) << text.substr(128000);
}

TEST(Diagnostics, DebugLogLinkedOutOfTheRepositoryIsNotFollowed) {
  GitRepo repo;
  testing::TempDir elsewhere;
  const fs::path outside = elsewhere / "notes.txt";
  write_text(outside, "someone else's file\n");
  ASSERT_EQ(::chmod(outside.c_str(), 0644), 0);
  core::make_dirs(sync_log(repo).parent_path());
  fs::create_symlink(outside, sync_log(repo));

  EXPECT_EQ(_write_sync_debug_log(repo.root(), "sync", std::runtime_error("x")), std::nullopt);
  EXPECT_EQ(read_text(outside), "someone else's file\n");
  struct stat st {};
  ASSERT_EQ(::stat(outside.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(Diagnostics, DebugLogThatCannotBeWrittenIsNone) {
  GitRepo repo;
  // A file where the platform directory should be: no log directory can be
  // made inside it, whoever runs the test.
  write_text(paths::platform_dir(repo.root()), "not a directory");
  EXPECT_EQ(_write_sync_debug_log(repo.root(), "sync", std::runtime_error("x")), std::nullopt);
}

// ---------------------------------------------------------------------------
// The run

// A repository set up for one agent, with another tool's line in its
// post-commit hook and an attestation waiting for HEAD.
class SyncRun : public ::testing::Test {
 protected:
  SyncRun() {
    head_ = repo_.commit("feat: first change");
    services::shared::save_local_config(repo_.root(), {{"agents", {"claude-code"}}});
    services::setup_list::add(repo_.root());  // as `tamrik setup` lists it
    write_text(hook(), "#!/bin/sh\nentire hooks git post-commit\n");
    fs::permissions(hook(), fs::perms::owner_all);
    write_pending(repo_, "");
  }

  fs::path hook() const { return repo_.root() / ".git" / "hooks" / "post-commit"; }
  fs::path agent_settings() const { return testing::test_home() / ".claude" / "settings.json"; }

  void expect_pending_filed_for_head() const {
    EXPECT_FALSE(fs::exists(paths::commit_attestation(repo_.root())));
    const AttestationLog log = read_attestation_log(paths::log_jsonl(repo_.root()));
    ASSERT_EQ(log.pending.size(), 1u);
    EXPECT_EQ(core::get_text(log.pending[0], "commit"), head_);
  }

  GitRepo repo_;
  std::string head_;
  ScopedEnv no_installer_{{"TAMRIK_SKIP_PLATFORM_SKILLS", "1"}};
};

TEST_F(SyncRun, WithoutAKeyFilesTheAttestationAndRunsEveryRepair) {
  fs::remove(agent_settings());
  DebugLines debug;
  const Json summary = run_sync(Checkout::main(repo_.root()), "", "", Json());

  EXPECT_EQ(summary, Json({{"attestations_uploaded", false}, {"cache_refreshed", false}}));
  expect_pending_filed_for_head();
  EXPECT_TRUE(fs::exists(paths::example_attestation(repo_.root())));
  EXPECT_FALSE(fs::exists(hook())) << "the other tool's only line is gone, and with it the hook";
  EXPECT_NE(read_text(repo_.root() / ".git" / "info" / "exclude").find("/.tamrik/\n"), std::string::npos);
  EXPECT_NE(read_text(agent_settings()).find("hook session-start --agent claude-code"), std::string::npos);
  EXPECT_NE(read_text(testing::test_home() / ".claude.json").find("\"tamrik\""), std::string::npos);
  EXPECT_FALSE(fs::exists(repo_.root() / ".mcp.json"));
  EXPECT_EQ(debug.find("Agent hook self-heal skipped"), -1);
}

TEST_F(SyncRun, TheExampleAttestationIsRestoredWithItsMode) {
  const fs::path example = paths::example_attestation(repo_.root());
  write_text(example, "edited by hand\n");
  ASSERT_EQ(::chmod(example.c_str(), 0644), 0);
  run_sync(Checkout::main(repo_.root()), "", "", Json());
  EXPECT_EQ(read_text(example), std::string(hooks::scripts::example_attestation()));
  struct stat st {};
  ASSERT_EQ(::stat(example.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(SyncRun, FailedIgnoreRepairStopsNeitherTheOtherRepairsNorTheUpload) {
  testing::PlatformProcess platform(testing::PlatformOptions{.api_keys = {kSyncKey}});
  const Json project = protocol::http_client::resolve_project(kSyncKey, platform.url(), "git@example.com:acme/sync.git",
                                                              std::nullopt)["projectId"];
  fs::remove(repo_.root() / ".git" / "info" / "exclude");
  fs::create_directories(repo_.root() / ".git" / "info" / "exclude");
  fs::remove(agent_settings());

  DebugLines debug;
  const SyncReport report = run_sync_detailed(Checkout::main(repo_.root()), kSyncKey, platform.url(), project);

  const long ignore_failed = debug.find("Gitignore self-heal skipped (best-effort): OSError");
  ASSERT_GE(ignore_failed, 0) << "the failure is logged with its class";
  EXPECT_GT(debug.find("Registered the tool server in "), ignore_failed) << "the later repairs still ran";
  EXPECT_TRUE(fs::exists(agent_settings()));
  ASSERT_TRUE(report.upload);
  EXPECT_TRUE(report.upload->ok);
  EXPECT_EQ(report.upload->uploaded, 1);
  ASSERT_TRUE(report.refresh);
  EXPECT_TRUE(report.refresh->ok) << (report.refresh->stage ? stage_name(*report.refresh->stage) : "");
  EXPECT_EQ(report.summary(), Json({{"attestations_uploaded", true}, {"cache_refreshed", true}}));

  httplib::Client client("127.0.0.1", platform.port());
  const auto stored = client.Get("/v1/projects/" + project.dump() + "/attestations",
                                 {{"Authorization", std::string("Bearer ") + kSyncKey}});
  ASSERT_TRUE(stored);
  EXPECT_NE(stored->body.find(head_), std::string::npos);
}

TEST_F(SyncRun, AttestationForAChangeNotYetCommittedWaitsForItsCommit) {
  fs::remove(paths::commit_attestation(repo_.root()));
  write_text(repo_.root() / "feature.txt", "the next change\n");
  repo_.git({"add", "feature.txt"});
  write_pending(repo_, *services::shared::get_staged_diff_hash(repo_.root()));

  const SyncReport before = run_sync_detailed(Checkout::main(repo_.root()), "", "", Json());
  EXPECT_TRUE(before.attestation.waiting);
  EXPECT_TRUE(fs::exists(paths::commit_attestation(repo_.root())));
  EXPECT_TRUE(read_attestation_log(paths::log_jsonl(repo_.root())).pending.empty()) << "not pinned on the old HEAD";

  repo_.git({"commit", "-q", "-m", "feat: the next change"});
  const SyncReport after = run_sync_detailed(Checkout::main(repo_.root()), "", "", Json());
  EXPECT_FALSE(after.attestation.waiting);
  EXPECT_EQ(after.attestation.result.matched_commit, repo_.head());
  EXPECT_FALSE(fs::exists(paths::commit_attestation(repo_.root())));
}

}  // namespace
}  // namespace tamrik::synccore
