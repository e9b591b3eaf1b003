// Registering the agent tool server with Claude Code and Codex: only our own
// entry is touched, twice changes nothing, and removal takes only ours.

#include "host/commands/mcp.hpp"
#include "host/commands/mcp_json_entry.hpp"
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
  void SetUp() override { ::setenv("CODEX_HOME", (home_.path() / "codex").c_str(), 1); }
  void TearDown() override { ::unsetenv("CODEX_HOME"); }

  void install() { mcp::install_mcp_for_agents(repo_.path(), std::vector<std::string>{"claude-code", "codex"}); }
  fs::path mcp_json() const { return repo_.path() / ".mcp.json"; }
  fs::path codex_config() const { return home_.path() / "codex" / "config.toml"; }

  TempDir home_;
  TempDir repo_;
};

constexpr const char* kOtherToml = "# mine\nmodel = \"o3\"\n\n[mcp_servers.other]\ncommand = \"x\"   # keep\n";

TEST_F(McpRegistration, WritesBothPlacesAndKeepsOtherServers) {
  write_text(mcp_json(), R"({"mcpServers": {"other": {"command": "x"}}, "extra": 1})");
  fs::create_directories(codex_config().parent_path());
  write_text(codex_config(), kOtherToml);
  install();
  const ordered_json json = ordered_json::parse(read_text(mcp_json()));
  EXPECT_EQ(json["mcpServers"]["other"], ordered_json({{"command", "x"}}));
  EXPECT_EQ(json["mcpServers"]["tamrik"], ordered_json({{"command", "tamrik"}, {"args", {"mcp"}}}));
  EXPECT_EQ(json["extra"], 1);
  EXPECT_EQ(read_text(codex_config()),
            std::string(kOtherToml) + "\n[mcp_servers.tamrik]\ncommand = \"tamrik\"\nargs = [\"mcp\"]\n");
}

TEST_F(McpRegistration, TwiceChangesNothingTheSecondTime) {
  fs::create_directories(codex_config().parent_path());
  write_text(codex_config(), kOtherToml);
  install();
  const std::string json = read_text(mcp_json());
  const std::string toml = read_text(codex_config());
  const auto json_time = fs::last_write_time(mcp_json());
  install();
  EXPECT_EQ(read_text(mcp_json()), json);
  EXPECT_EQ(read_text(codex_config()), toml);
  EXPECT_EQ(fs::last_write_time(mcp_json()), json_time);
}

TEST_F(McpRegistration, AMalformedMcpJsonIsLeftAloneAndCodexStillRegistered) {
  write_text(mcp_json(), "{not json");
  install();
  EXPECT_EQ(read_text(mcp_json()), "{not json");
  EXPECT_NE(read_text(codex_config()).find("[mcp_servers.tamrik]"), std::string::npos);
}

TEST_F(McpRegistration, UninstallRemovesOnlyOurs) {
  write_text(mcp_json(), R"({"mcpServers": {"other": {"command": "x"}}})");
  fs::create_directories(codex_config().parent_path());
  write_text(codex_config(), kOtherToml);
  install();
  EXPECT_TRUE(mcp::remove_claude_code_registration(repo_.path()));
  EXPECT_TRUE(mcp::remove_codex_registration().changed);
  EXPECT_EQ(ordered_json::parse(read_text(mcp_json())),
            ordered_json::parse(R"({"mcpServers": {"other": {"command": "x"}}})"));
  EXPECT_EQ(read_text(codex_config()), kOtherToml);
  EXPECT_FALSE(mcp::remove_claude_code_registration(repo_.path()));
  EXPECT_FALSE(mcp::remove_codex_registration().changed);
}

TEST_F(McpRegistration, UninstallDeletesFilesThatHeldOnlyOurs) {
  install();
  ASSERT_TRUE(fs::exists(mcp_json()));
  ASSERT_TRUE(fs::exists(codex_config()));
  EXPECT_TRUE(mcp::remove_claude_code_registration(repo_.path()));
  EXPECT_TRUE(mcp::remove_codex_registration().changed);
  EXPECT_FALSE(fs::exists(mcp_json()));
  EXPECT_FALSE(fs::exists(codex_config()));
}

// What setup reports per agent: where the entry went and whether it wrote.
TEST_F(McpRegistration, RegisteringOneAgentSaysWhereAndWhetherItWrote) {
  const std::optional<mcp::Registration> first = mcp::register_tool_server(repo_.path(), "codex");
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->file, codex_config());
  EXPECT_TRUE(first->changed);
  EXPECT_FALSE(mcp::register_tool_server(repo_.path(), "codex")->changed);
  EXPECT_FALSE(mcp::register_tool_server(repo_.path(), "gemini-cli").has_value());

  write_text(mcp_json(), "[]");
  EXPECT_THROW(mcp::register_tool_server(repo_.path(), "claude-code"), mcp::UnreadableMcpJson);
  EXPECT_EQ(read_text(mcp_json()), "[]");
}

}  // namespace
}  // namespace tamrik::testing
