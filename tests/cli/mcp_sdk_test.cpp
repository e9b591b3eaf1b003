// `tamrik mcp` as the MCP SDK's own client sees it (tests/cli/mcp_sdk_client.cjs):
// the client that agent harnesses are built on must accept every answer.
// Needs node and the SDK in the build tree (scripts/install-mcp-sdk); skipped
// with the reason when either is missing.

#include "cli_fixture.hpp"

#include "core/program_search.hpp"

namespace tamrik::testing {
namespace {

class McpSdkClient : public CliTest {};

TEST_F(McpSdkClient, ListsToolsAndIsAnsweredDuringASyncOnASilentPlatform) {
  const std::optional<fs::path> node = core::find_on_path("node");
  if (!node) GTEST_SKIP() << "node is not installed";
  const fs::path sdk = TAMRIK_MCP_SDK_DIR;
  if (!fs::exists(sdk / "node_modules" / "@modelcontextprotocol" / "sdk" / "package.json")) {
    GTEST_SKIP() << "the MCP SDK is not installed in " << sdk << "; scripts/install-mcp-sdk installs it";
  }
  repo_.git({"remote", "add", "origin", "git@example.com:acme/sdk.git"});
  set_up_repository();
  repo_.commit("feat: waits for the platform");

  const TamrikResult run = run_tamrik({.program = *node,
                                       .args = {TAMRIK_MCP_SDK_CLIENT, sdk.string(), tamrik_binary().string()},
                                       .cwd = repo_.root(),
                                       .env = {{"TAMRIK_API_KEY", "tk_test"}, {"TAMRIK_SKIP_PLATFORM_SKILLS", "1"}}});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const ordered_json seen = ordered_json::parse(run.out, nullptr, false);
  ASSERT_TRUE(seen.is_object()) << run.out << run.err;
  EXPECT_FALSE(seen.contains("error")) << seen.dump();
  EXPECT_EQ(seen["server"], "tamrik");
  EXPECT_EQ(seen["tools"], ordered_json({"status", "session_summary", "prepare_attestation", "sync"}));
  EXPECT_EQ(seen["wrongArgumentIsError"], true);
  EXPECT_EQ(seen["pongWhileSyncWaits"], true);
  EXPECT_EQ(seen["sync"], "cancelled");
}

}  // namespace
}  // namespace tamrik::testing
