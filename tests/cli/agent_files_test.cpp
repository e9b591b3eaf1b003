// `tamrik setup`, sync and uninstall in a home whose agent files look lived
// in: other hooks, permissions, env, escapes, numbers written 1.50, compact
// lists, tabs and four-space indentation, CRLF, no final line break, and
// settings linked into a dotfiles directory. Every file still parses, a
// second setup changes nothing, uninstall gives back the bytes, and what the
// person wrote on tamrik's entries stays theirs.

#include "cli_fixture.hpp"

#include <sys/stat.h>

#include <map>

namespace tamrik::testing {
namespace {

// Tab-indented, no final line break; linked from ~/.claude/settings.json.
constexpr const char* kClaudeSettings =
    "{\n\t\"permissions\": {\n\t\t\"allow\": [\"Bash(npm test)\",\"Read\"]\n\t},\n"
    "\t\"env\": {\"GREETING\": \"caf\\u00e9\", \"RATIO\": 1.50},\n\t\"hooks\": {\n\t\t\"PostToolUse\": [\n"
    "\t\t\t{\"matcher\": \"Edit\", \"hooks\": [{\"type\": \"command\", \"command\": \"prettier --write\"}]}\n"
    "\t\t]\n\t}\n}";

// Four spaces and CRLF.
constexpr const char* kCodexHooks =
    "{\r\n    \"hooks\": {\r\n        \"Stop\": [\r\n            {\"hooks\": [{\"type\": \"command\", "
    "\"command\": \"notify-send done\"}]}\r\n        ]\r\n    }\r\n}\r\n";

constexpr const char* kClaudeJson =
    "{\n  \"numStartups\": 3,\n  \"tipsHistory\": {\"memory\": 1.50},\n  \"projects\": {}\n}\n";

class AgentFiles : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    ::setenv("CODEX_HOME", (home_.path() / ".codex").c_str(), 1);
    fs::create_directories(dotfiles() / "claude");
    fs::create_directories(home_.path() / ".claude");
    fs::create_directories(home_.path() / ".codex");
    write_text(dotfiles() / "claude" / "settings.json", kClaudeSettings);
    fs::permissions(dotfiles() / "claude" / "settings.json", fs::perms(0640));
    fs::create_symlink(dotfiles() / "claude" / "settings.json", settings_link());
    write_text(codex_hooks(), kCodexHooks);
    write_text(claude_json(), kClaudeJson);
  }
  void TearDown() override {
    ::unsetenv("CODEX_HOME");
    CliTest::TearDown();
  }

  fs::path dotfiles() const { return home_.path() / "dotfiles"; }
  fs::path settings_link() const { return home_.path() / ".claude" / "settings.json"; }
  fs::path settings_target() const { return dotfiles() / "claude" / "settings.json"; }
  fs::path codex_hooks() const { return home_.path() / ".codex" / "hooks.json"; }
  fs::path claude_json() const { return home_.path() / ".claude.json"; }
  fs::path mcp_json() const { return repo_.root() / ".mcp.json"; }
  std::string repo_key() const { return fs::canonical(repo_.root()).string(); }

  std::map<fs::path, std::string> json_files() const {
    std::map<fs::path, std::string> files;
    for (const fs::path& file : {settings_target(), codex_hooks(), claude_json(), mcp_json()}) {
      if (fs::exists(file)) files[file] = read_text(file);
    }
    return files;
  }

  void set_up(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"setup", "--agents", "claude-code,codex"};
    args.insert(args.end(), extra.begin(), extra.end());
    const TamrikResult result = tamrik(args);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
  }
};

TEST_F(AgentFiles, SetupSplicesItsEntriesInAndUninstallGivesBackEveryByte) {
  const auto before = json_files();
  set_up();
  const auto installed = json_files();
  for (const auto& [file, text] : installed) {
    EXPECT_FALSE(ordered_json::parse(text, nullptr, false).is_discarded()) << file;
  }
  // The link into the dotfiles stays a link, its target keeps its mode.
  EXPECT_TRUE(fs::is_symlink(settings_link()));
  EXPECT_EQ(fs::status(settings_target()).permissions(), fs::perms(0640));

  const std::string settings = installed.at(settings_target());
  EXPECT_TRUE(settings.starts_with(
      "{\n\t\"permissions\": {\n\t\t\"allow\": [\"Bash(npm test)\",\"Read\"]\n\t},\n"
      "\t\"env\": {\"GREETING\": \"caf\\u00e9\", \"RATIO\": 1.50},\n\t\"hooks\": {\n\t\t\"PostToolUse\": [\n"
      "\t\t\t{\"matcher\": \"Edit\", \"hooks\": [{\"type\": \"command\", \"command\": \"prettier --write\"}]},\n"
      "\t\t\t{\n\t\t\t\t\"matcher\": \"Bash\",\n"))
      << settings;
  EXPECT_FALSE(settings.ends_with("\n"));
  const std::string codex = installed.at(codex_hooks());
  EXPECT_NE(codex.find("\r\n        \"PostToolUse\": [\r\n            {\r\n                \"matcher\": \"Bash\""),
            std::string::npos)
      << codex;
  EXPECT_EQ(ordered_json::parse(installed.at(claude_json()))["projects"][repo_key()]["mcpServers"]["tamrik"]["command"],
            tamrik_binary().string());
  EXPECT_FALSE(fs::exists(mcp_json()));

  const TamrikResult again = tamrik({"setup"});
  EXPECT_EQ(again.out.find("written to"), std::string::npos) << again.out;
  tamrik({"sync"});  // not signed in: it fails, and re-registers all the same
  EXPECT_EQ(json_files(), installed);

  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_EQ(json_files(), before);
  EXPECT_TRUE(fs::is_symlink(settings_link()));
}

TEST_F(AgentFiles, WhatThePersonWroteOnTamriksEntriesStaysTheirs) {
  // A team's .mcp.json that already names tamrik, committed, without a
  // final line break: setup, sync and uninstall leave it byte for byte.
  const std::string team =
      "{\n  \"mcpServers\": {\n    \"tamrik\": {\"command\": \"/opt/tamrik/bin/tamrik\", "
      "\"args\": [\"mcp\"], \"env\": {\"TAMRIK_LOG\": \"debug\"}}\n  }\n}";
  write_text(mcp_json(), team);
  repo_.git({"add", ".mcp.json"});
  repo_.git({"commit", "-qm", "tools"});
  set_up({"--mcp-json"});
  tamrik({"sync"});
  EXPECT_EQ(read_text(mcp_json()), team);

  // A key the person adds to tamrik's hook handler survives a sync.
  std::string settings = read_text(settings_target());
  const std::string handler = "\"type\": \"command\",\n\t\t\t\t\t\t\"command\": \"";
  const size_t at = settings.find(handler, settings.find("\"Bash\""));
  ASSERT_NE(at, std::string::npos) << settings;
  settings.insert(at, "\"statusMessage\": \"recording\",\n\t\t\t\t\t\t");
  write_text(settings_target(), settings);
  tamrik({"sync"});
  EXPECT_EQ(read_text(settings_target()), settings);

  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_EQ(read_text(mcp_json()), team);
  EXPECT_EQ(read_text(claude_json()), kClaudeJson);
  EXPECT_EQ(repo_.git({"status", "--porcelain", "--", ".mcp.json"}), "");
}

TEST_F(AgentFiles, TheSharedFileOnRequestSaysWhenTamrikIsNotOnPath) {
  const std::string saved_path = std::getenv("PATH");
  ::setenv("PATH", "/usr/bin:/bin", 1);  // git's, and no tamrik
  const TamrikResult result = tamrik({"setup", "--agents", "claude-code", "--mcp-json"});
  ::setenv("PATH", saved_path.c_str(), 1);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(ordered_json::parse(read_text(mcp_json()))["mcpServers"]["tamrik"],
            ordered_json({{"command", "tamrik"}, {"args", {"mcp"}}}));
  EXPECT_NE(result.out.find("`tamrik` is not on PATH"), std::string::npos) << result.out;
  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_FALSE(fs::exists(mcp_json()));
}

}  // namespace
}  // namespace tamrik::testing
