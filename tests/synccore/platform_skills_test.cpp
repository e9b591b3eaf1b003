// The platform skills installer, run as a fake `npx` script on PATH: the
// skip switch, a missing npx, success, failure, a hang killed with its whole
// process group, and the manifest that decides whether to run at all.

#include "synccore/platform_skills.hpp"

#include "core/file_io.hpp"
#include "core/log.hpp"
#include "host/agent_fixtures.hpp"
#include "support/debug_lines.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>

namespace tamrik::synccore {
namespace {

namespace fs = std::filesystem;
using testing::read_text;
using testing::TempDir;
using testing::write_text;
using testing::agent_fixtures::ScopedEnv;

class SkillsInstaller : public ::testing::Test {
 protected:
  SkillsInstaller() {
    write_text(bin_ / "npx",
               "#!/bin/sh\n"
               "echo \"$PWD $*\" > \"$CALLS\"\n"
               "if [ -n \"$STRAY\" ]; then mkdir -p agent/skills; fi\n"
               "if [ -n \"$HANG\" ]; then sleep 300 & echo $! > \"$CALLS.child\"; [ \"$HANG\" = exit ] || wait; fi\n"
               "exit ${NPX_EXIT:-0}\n");
    fs::permissions(bin_ / "npx", fs::perms::owner_all);
    previous_sink_ = core::set_log_sink(
        [this](core::LogLevel, std::string_view, std::string_view message) { debug_lines_.emplace_back(message); });
  }
  ~SkillsInstaller() override {
    core::set_log_sink(previous_sink_);
    skills_install_time_limit = std::chrono::seconds(120);
  }

  bool logged(std::string_view line) const {
    return std::find(debug_lines_.begin(), debug_lines_.end(), line) != debug_lines_.end();
  }
  bool installer_ran() const { return fs::exists(calls_); }
  void write_manifest(const std::string& skills) const {
    write_text(repo_.path() / "skills-lock.json", "{\"version\": 1, \"skills\": " + skills + "}");
  }

  TempDir repo_;
  TempDir bin_;
  fs::path calls_ = bin_ / "calls";
  ScopedEnv env_{{"PATH", bin_.path().string() + ":/usr/bin:/bin"},
                 {"CALLS", calls_.string()},
                 {"TAMRIK_SKIP_PLATFORM_SKILLS", std::nullopt}};
  testing::DebugLines debug_;
  std::vector<std::string> debug_lines_;
  core::LogSink previous_sink_;
};

TEST_F(SkillsInstaller, RunsThePinnedInstallerInTheRepositoryWithAPrefixOfItsOwn) {
  ASSERT_EQ(testing::run_command({"git", "init", "-q", repo_.path().string()}).exit_code, 0);
  ScopedEnv stray{{"STRAY", "1"}};
  EXPECT_TRUE(install_platform_skills(repo_.path()));
  const fs::path npx_home = fs::path(std::getenv("HOME")) / ".cache" / "tamrik" / "npx";
  EXPECT_EQ(read_text(calls_),
            repo_.path().string() + " --prefix " + npx_home.string() + " -y skills@1.7.4 add tamrik/engineering -y\n");
  EXPECT_TRUE(fs::is_directory(npx_home));
  EXPECT_TRUE(logged("npx skills wrote a stray `agent/` dir (upstream issue); ignored, not removed"));
  EXPECT_TRUE(fs::exists(repo_.path() / "agent" / "skills")) << "left in place";
  EXPECT_NE(read_text(repo_.path() / ".git" / "info" / "exclude").find("\n/agent/skills/\n"), std::string::npos);

  // A repository's own tracked agent/skills is not hidden.
  const TempDir own;
  write_text(own.path() / "agent" / "skills" / "mine.md", "ours\n");
  ASSERT_EQ(testing::run_command({"git", "init", "-q", own.path().string()}).exit_code, 0);
  ASSERT_EQ(testing::run_command({"git", "add", "agent"}, own.path()).exit_code, 0);
  EXPECT_TRUE(install_platform_skills(own.path()));
  const fs::path exclude = own.path() / ".git" / "info" / "exclude";
  EXPECT_TRUE(!fs::exists(exclude) || read_text(exclude).find("/agent/skills/") == std::string::npos);
}

TEST_F(SkillsInstaller, SkipSwitchOrMissingNpxStartsNothing) {
  {
    ScopedEnv skip{{"TAMRIK_SKIP_PLATFORM_SKILLS", "yes"}};
    EXPECT_FALSE(install_platform_skills(repo_.path()));
    EXPECT_TRUE(logged("TAMRIK_SKIP_PLATFORM_SKILLS set — skipping npx install"));
  }
  {
    TempDir empty;
    ScopedEnv no_npx{{"PATH", empty.path().string()}};
    EXPECT_FALSE(install_platform_skills(repo_.path()));
    EXPECT_TRUE(logged("npx not found — skipping platform-skill install"));
  }
  EXPECT_FALSE(installer_ran());
}

TEST_F(SkillsInstaller, FailingInstallerGivesFalse) {
  ScopedEnv fail{{"NPX_EXIT", "1"}};
  EXPECT_FALSE(install_platform_skills(repo_.path()));
  EXPECT_TRUE(installer_ran());
  EXPECT_TRUE(logged("Platform-skill install exited 1"));
}

TEST_F(SkillsInstaller, HangingInstallerIsKilledWithEverythingItStarted) {
  // "wait": the installer itself hangs; "exit": it exits 0 at once while its
  // child keeps its output open, which is no more a finished install.
  skills_install_time_limit = std::chrono::milliseconds(500);
  for (const char* hang : {"wait", "exit"}) {
    ScopedEnv hanging{{"HANG", hang}};
    debug_lines_.clear();
    EXPECT_FALSE(install_platform_skills(repo_.path())) << hang;
    EXPECT_TRUE(logged("Platform-skill install timed out; process group killed")) << hang;
    const std::string child = read_text(calls_.string() + ".child");
    EXPECT_TRUE(testing::process_gone_soon(std::stoi(child))) << hang << ": the installer's own child went with it";
  }
}

TEST_F(SkillsInstaller, ManifestDecidesWhetherToInstall) {
  write_manifest(R"({"review": {"source": "https://github.com/Tamrik/Engineering.git", "sourceType": "github"}})");
  fs::create_directories(repo_.path() / ".agents" / "skills");
  ensure_platform_skills(repo_.path());
  EXPECT_FALSE(installer_ran()) << "recorded in the manifest, though .agents/skills is empty";

  write_manifest(R"({"mine": {"source": "someone/else"}})");
  write_text(repo_.path() / ".agents" / "skills" / "mine" / "SKILL.md", "# custom\n");
  ensure_platform_skills(repo_.path());
  EXPECT_TRUE(installer_ran()) << "another source's skills do not pass for the platform's";
}

TEST(InstalledPlatformSlugs, ReadsOnlyThePlatformPackagesEntries) {
  TempDir repo;
  EXPECT_TRUE(hooks::agent_guidance::installed_platform_slugs(repo.path()).empty());
  write_text(repo.path() / "skills-lock.json", "{not json");
  EXPECT_TRUE(hooks::agent_guidance::installed_platform_slugs(repo.path()).empty());
  write_text(repo.path() / "skills-lock.json",
             R"({"skills": {"a": {"source": "tamrik/engineering"}, "b": {"source": "github:tamrik/engineering"},
                            "c": {"source": "tamrik/engineering-extra"}, "d": "tamrik/engineering"}})");
  EXPECT_EQ(hooks::agent_guidance::installed_platform_slugs(repo.path()), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace tamrik::synccore
