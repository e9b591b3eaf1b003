// Registering the agent tool server with Claude Code and Codex: only our own
// entry is touched, twice changes nothing, and removal takes only what
// setup added, giving back the file's bytes.

#include "host/commands/mcp.hpp"
#include "host/commands/mcp_json_entry.hpp"
#include "core/errors.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

namespace tamrik::testing {
namespace {

namespace mcp = commands::mcp;
using nlohmann::ordered_json;

class McpRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("CODEX_HOME", (home_.path() / "codex").c_str(), 1);
    ::setenv("CLAUDE_CONFIG_DIR", (home_.path() / "claude").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("CODEX_HOME");
    ::unsetenv("CLAUDE_CONFIG_DIR");
  }

  void install() {
    mcp::install_mcp_for_agents(repo_.root(), std::vector<std::string>{"claude-code", "codex"}, kProgram);
  }
  std::optional<mcp::Registration> register_claude(bool shared_file) {
    return mcp::register_tool_server(repo_.root(), "claude-code", shared_file, kProgram);
  }
  fs::path mcp_json() const { return repo_.root() / ".mcp.json"; }
  fs::path claude_json() const { return home_.path() / "claude" / ".claude.json"; }
  fs::path codex_config() const { return home_.path() / "codex" / "config.toml"; }
  std::string repo_key() const { return fs::canonical(repo_.root()).string(); }

  static inline const fs::path kProgram = "/opt/tamrik/bin/tamrik";
  TempDir home_;
  GitRepo repo_;
};

constexpr const char* kOtherToml = "# mine\nmodel = \"o3\"\n\n[mcp_servers.other]\ncommand = \"x\"   # keep\n";

// A Claude Code user file as it looks after some use: other projects, an
// escape, a number written 1.50, a compact list, and no final line break.
constexpr const char* kClaudeJson =
    "{\n  \"numStartups\": 12,\n  \"theme\": \"caf\\u00e9\",\n  \"ratio\": 1.50,\n  \"projects\": {\n"
    "    \"/elsewhere\": {\n      \"allowedTools\": [\"Bash(ls)\",\"Read\"],\n      \"mcpServers\": {}\n    }\n  }\n}";

TEST_F(McpRegistration, ClaudeCodeGetsAPerUserEntryAndUninstallGivesTheBytesBack) {
  fs::create_directories(claude_json().parent_path());
  write_text(claude_json(), kClaudeJson);
  fs::create_directories(codex_config().parent_path());
  write_text(codex_config(), kOtherToml);
  install();
  EXPECT_FALSE(fs::exists(mcp_json()));
  const std::string registered = read_text(claude_json());
  const ordered_json json = ordered_json::parse(registered);
  EXPECT_EQ(json["projects"][repo_key()]["mcpServers"]["tamrik"],
            ordered_json({{"type", "stdio"}, {"command", kProgram.string()}, {"args", {"mcp"}}}));
  EXPECT_EQ(json["projects"]["/elsewhere"]["allowedTools"], ordered_json({"Bash(ls)", "Read"}));
  EXPECT_TRUE(registered.starts_with(std::string(kClaudeJson).substr(0, std::string(kClaudeJson).size() - 6)));
  EXPECT_EQ(read_text(codex_config()), std::string(kOtherToml) + "\n[mcp_servers.tamrik]\ncommand = \"" +
                                           kProgram.string() + "\"\nargs = [\"mcp\"]\n");

  const auto json_time = fs::last_write_time(claude_json());
  install();
  EXPECT_EQ(read_text(claude_json()), registered);
  EXPECT_EQ(fs::last_write_time(claude_json()), json_time);

  EXPECT_EQ(mcp::remove_claude_code_registration(repo_.root()), std::vector<fs::path>{claude_json()});
  EXPECT_TRUE(mcp::remove_codex_registration().changed);
  EXPECT_EQ(read_text(claude_json()), kClaudeJson);
  EXPECT_EQ(read_text(codex_config()), kOtherToml);
  EXPECT_TRUE(mcp::remove_claude_code_registration(repo_.root()).empty());
  EXPECT_FALSE(mcp::remove_codex_registration().changed);
}

TEST_F(McpRegistration, TheSharedFileOnRequestKeepsItsLayoutAndIsGivenBack) {
  const std::string original =
      "{\n    \"mcpServers\": {\n        \"other\": {\"command\": \"x\", \"args\": [1,2]}\n    }\n}";
  write_text(mcp_json(), original);
  const std::optional<mcp::Registration> added = register_claude(true);
  ASSERT_TRUE(added.has_value());
  EXPECT_TRUE(added->changed);
  EXPECT_EQ(read_text(mcp_json()),
            "{\n    \"mcpServers\": {\n        \"other\": {\"command\": \"x\", \"args\": [1,2]},\n"
            "        \"tamrik\": {\n            \"command\": \"tamrik\",\n            \"args\": [\"mcp\"]\n        }\n"
            "    }\n}");
  EXPECT_FALSE(fs::exists(claude_json()));
  // Sync keeps the person's choice: the entry stays in the shared file.
  install();
  EXPECT_FALSE(fs::exists(claude_json()));
  EXPECT_EQ(mcp::remove_claude_code_registration(repo_.root()), std::vector<fs::path>{mcp_json()});
  EXPECT_EQ(read_text(mcp_json()), original);

  // A file setup created goes again.
  fs::remove(mcp_json());
  register_claude(true);
  EXPECT_EQ(mcp::remove_claude_code_registration(repo_.root()), std::vector<fs::path>{mcp_json()});
  EXPECT_FALSE(fs::exists(mcp_json()));

  // An entry the person has added their own keys to is theirs from then on.
  register_claude(true);
  std::string edited = read_text(mcp_json());
  edited.insert(edited.find("\"args\""), "\"env\": {\"TAMRIK_LOG\": \"debug\"},\n      ");
  write_text(mcp_json(), edited);
  install();
  EXPECT_EQ(read_text(mcp_json()), edited);
  EXPECT_TRUE(mcp::remove_claude_code_registration(repo_.root()).empty());
  EXPECT_EQ(read_text(mcp_json()), edited);
}

TEST_F(McpRegistration, AnEntryThatWasThereBeforeIsThePersonsAndSurvives) {
  const std::string team =
      "{\n  \"mcpServers\": {\n    \"tamrik\": {\n      \"command\": \"/usr/local/bin/tamrik\",\n"
      "      \"args\": [\"mcp\"],\n      \"env\": {\"TAMRIK_DEBUG\": \"1\"}\n    }\n  }\n}\n";
  write_text(mcp_json(), team);
  repo_.git({"add", ".mcp.json"});
  repo_.git({"commit", "-qm", "team tools"});
  for (const bool shared_file : {false, true}) {
    const std::optional<mcp::Registration> registration = register_claude(shared_file);
    EXPECT_FALSE(registration->changed);
    install();
    EXPECT_EQ(read_text(mcp_json()), team);
    EXPECT_FALSE(fs::exists(claude_json()));
    EXPECT_TRUE(mcp::remove_claude_code_registration(repo_.root()).empty());
    EXPECT_EQ(read_text(mcp_json()), team);
  }

  // The person's own per-user entry is theirs too.
  fs::remove(mcp_json());
  fs::create_directories(claude_json().parent_path());
  const std::string own =
      "{\"projects\": {\"" + repo_key() + "\": {\"mcpServers\": {\"tamrik\": {\"command\": \"t\"}}}}}";
  write_text(claude_json(), own);
  EXPECT_FALSE(register_claude(false)->changed);
  EXPECT_TRUE(mcp::remove_claude_code_registration(repo_.root()).empty());
  EXPECT_EQ(read_text(claude_json()), own);
}

// A repository set up by the version that wrote .mcp.json: its untouched,
// untracked entry moves to the per-user file; a tracked one stays, said so.
TEST_F(McpRegistration, AnEarlierSetupsEntryMovesOutOfTheWorkingTreeOnlyWhenUntouchedAndUntracked) {
  write_text(mcp_json(),
             "{\n  \"mcpServers\": {\n    \"tamrik\": {\n      \"command\": \"tamrik\",\n"
             "      \"args\": [\n        \"mcp\"\n      ]\n    }\n  }\n}\n");
  const std::optional<mcp::Registration> moved = register_claude(false);
  EXPECT_TRUE(moved->changed);
  EXPECT_NE(moved->note.find("moved from .mcp.json"), std::string::npos);
  EXPECT_FALSE(fs::exists(mcp_json()));
  EXPECT_EQ(ordered_json::parse(read_text(claude_json()))["projects"][repo_key()]["mcpServers"]["tamrik"]["command"],
            kProgram.string());

  TempDir other_home;
  ::setenv("CLAUDE_CONFIG_DIR", other_home.path().c_str(), 1);
  fs::remove_all(repo_.root() / ".tamrik");
  const std::string tracked = R"({"mcpServers": {"tamrik": {"command": "tamrik", "args": ["mcp"]}}})";
  write_text(mcp_json(), tracked);
  repo_.git({"add", ".mcp.json"});
  repo_.git({"commit", "-qm", "tools"});
  const std::optional<mcp::Registration> left = register_claude(false);
  EXPECT_FALSE(left->changed);
  EXPECT_NE(left->note.find("left as it is"), std::string::npos);
  EXPECT_EQ(read_text(mcp_json()), tracked);
  EXPECT_TRUE(mcp::remove_claude_code_registration(repo_.root()).empty());
  EXPECT_EQ(read_text(mcp_json()), tracked);
}

TEST_F(McpRegistration, AMalformedFileIsLeftAloneAndTheOtherAgentStillRegistered) {
  fs::create_directories(claude_json().parent_path());
  write_text(claude_json(), "{not json");
  install();
  EXPECT_EQ(read_text(claude_json()), "{not json");
  EXPECT_NE(read_text(codex_config()).find("[mcp_servers.tamrik]"), std::string::npos);
  EXPECT_THROW(register_claude(false), core::JSONDecodeError);

  write_text(mcp_json(), R"({"mcpServers": []})");
  EXPECT_THROW(register_claude(true), mcp::UnreadableMcpJson);
  EXPECT_EQ(read_text(mcp_json()), R"({"mcpServers": []})");

  // The repository's .mcp.json is never followed out of it, unlike a link
  // in the home.
  fs::remove(mcp_json());
  const fs::path outside = home_.path() / "outside.json";
  write_text(outside, "{}");
  fs::create_symlink(outside, mcp_json());
  try {
    register_claude(true);
  } catch (const std::exception&) {
  }
  EXPECT_EQ(read_text(outside), "{}");
}

TEST_F(McpRegistration, UninstallDeletesFilesThatHeldOnlyOurs) {
  install();
  ASSERT_TRUE(fs::exists(codex_config()));
  EXPECT_TRUE(mcp::remove_codex_registration().changed);
  EXPECT_FALSE(fs::exists(codex_config()));
}

// What setup reports per agent: where the entry went and whether it wrote.
TEST_F(McpRegistration, RegisteringOneAgentSaysWhereAndWhetherItWrote) {
  const std::optional<mcp::Registration> first = mcp::register_tool_server(repo_.root(), "codex", false, kProgram);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->file, codex_config());
  EXPECT_TRUE(first->changed);
  EXPECT_FALSE(mcp::register_tool_server(repo_.root(), "codex", false, kProgram)->changed);
  EXPECT_FALSE(mcp::register_tool_server(repo_.root(), "gemini-cli", false, kProgram).has_value());
  EXPECT_EQ(register_claude(false)->file, claude_json());
}

}  // namespace
}  // namespace tamrik::testing
