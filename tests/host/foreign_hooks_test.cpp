// Stripping another tool's hook rows from a repository: only lines and
// handlers that run the `entire` program go; the user's and tamrik's stay.

#include "host/hooks/foreign_hooks.hpp"

#include "core/json.hpp"
#include "host/hooks/claude_code_hooks.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace tamrik::hooks::installer {
namespace {

namespace fs = std::filesystem;
using core::Json;
using testing::GitRepo;
using testing::read_text;
using testing::write_text;

class ForeignHooks : public ::testing::Test {
 protected:
  fs::path hook() const { return repo_.root() / ".git" / "hooks" / "post-commit"; }
  fs::path settings() const { return repo_.root() / ".claude" / "settings.json"; }
  void write_hook(const std::string& text) const {
    write_text(hook(), text);
    fs::permissions(hook(), fs::perms::owner_all);
  }

  GitRepo repo_;
};

TEST_F(ForeignHooks, PostCommitKeepsEverythingButTheOtherToolsLines) {
  write_hook(
      "#!/bin/sh\n"
      "# >>> tamrik: record commits >>>\ntamrik sync --record-commit\n# <<< tamrik <<<\n"
      "/usr/local/bin/entire hooks git post-commit \"$@\"\n"
      "if command -v entire >/dev/null; then\n  entire hooks git post-commit\nfi\n"
      "entire hooks \\\n  git post-commit\n"
      "./scripts/notify.sh\n");
  EXPECT_TRUE(cleanup_entire(repo_.root()));
  EXPECT_EQ(read_text(hook()),
            "#!/bin/sh\n"
            "# >>> tamrik: record commits >>>\ntamrik sync --record-commit\n# <<< tamrik <<<\n"
            "if command -v entire >/dev/null; then\n  :\nfi\n"
            "entire hooks \\\n  git post-commit\n"
            "./scripts/notify.sh\n");
  EXPECT_TRUE(fs::status(hook()).permissions() == fs::perms::owner_all) << "the hook stays executable";
  EXPECT_FALSE(cleanup_entire(repo_.root())) << "a second run changes nothing";
}

TEST_F(ForeignHooks, HookHoldingOnlyTheOtherToolIsRemovedAndOtherInterpretersAreLeftAlone) {
  write_hook("#!/bin/sh\nentire hooks git post-commit\n");
  EXPECT_TRUE(cleanup_entire(repo_.root()));
  EXPECT_FALSE(fs::exists(hook()));

  const std::string python = "#!/usr/bin/env python3\nentire = 1\n";
  write_hook(python);
  EXPECT_FALSE(cleanup_entire(repo_.root()));
  EXPECT_EQ(read_text(hook()), python);
}

TEST_F(ForeignHooks, AgentSettingsLoseOnlyTheOtherToolsHandlers) {
  const Json mine = {{"type", "command"}, {"command", "./lint.sh"}};
  write_text(
      settings(),
      Json({{"model", "opus"},
            {"hooks",
             {{"PostToolUse",
               {{{"matcher", "Bash"},
                 {"hooks", {mine, {{"type", "command"}, {"command", "entire hooks claude-code post-tool-use"}}}}}}},
              {"SessionStart",
               {{{"hooks", {{{"type", "command"}, {"command", "entire hooks claude-code session-start"}}}}}}}}}})
          .dump());
  write_text(repo_.root() / ".cursor" / "hooks.json",
             R"({"version": 1, "hooks": {"afterShellExecution": [{"command": "entire hooks cursor after-shell"}]}})");

  EXPECT_TRUE(cleanup_entire(repo_.root()));
  const Json after = Json::parse(read_text(settings()));
  EXPECT_EQ(after, Json({{"model", "opus"}, {"hooks", {{"PostToolUse", {{{"matcher", "Bash"}, {"hooks", {mine}}}}}}}}));
  EXPECT_FALSE(fs::exists(repo_.root() / ".cursor" / "hooks.json")) << "nothing but the other tool's rows was in it";
  EXPECT_FALSE(cleanup_entire(repo_.root()));
}

TEST_F(ForeignHooks, SettingsThatAreNotJsonAreReportedNotRewritten) {
  write_text(settings(), "{ broken");
  EXPECT_THROW(cleanup_entire(repo_.root()), SettingsFormatError);
  EXPECT_EQ(read_text(settings()), "{ broken");
}

}  // namespace
}  // namespace tamrik::hooks::installer
