// `tamrik mcp`, the agent tool server: the protocol, and the tools that
// need no platform (the sync tool's tests are in mcp_sync_test.cpp).

#include "mcp_client.hpp"
#include "host/services/git_identity.hpp"

namespace tamrik::testing {
namespace {

class McpServer : public McpClientTest {
 protected:
  std::string stage_change() {
    write_text(repo_.root() / "feature.txt", "new feature\n");
    repo_.git({"add", "feature.txt"});
    return services::shared::get_staged_diff_hash(repo_.root()).value();
  }
};

TEST_F(McpServer, InitializeAnswersTheClientsProtocolVersionAndNamesTheServer) {
  const auto answers = session(request(1, "initialize", {{"protocolVersion", "2025-03-26"}, {"capabilities", {}}}) +
                               R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
                               "\n" +
                               request(2, "ping"));
  EXPECT_EQ(last_.exit_code, 0) << last_.err;
  ASSERT_EQ(answers.size(), 2u) << last_.out;  // the notification gets no answer
  EXPECT_EQ(answers[0]["id"], 1);
  EXPECT_EQ(answers[0]["result"]["protocolVersion"], "2025-03-26");
  EXPECT_EQ(answers[0]["result"]["capabilities"], ordered_json({{"tools", ordered_json::object()}}));
  EXPECT_EQ(answers[0]["result"]["serverInfo"]["name"], "tamrik");
  EXPECT_FALSE(answers[0]["result"]["serverInfo"]["version"].get<std::string>().empty());
  EXPECT_EQ(answers[1], ordered_json({{"jsonrpc", "2.0"}, {"id", 2}, {"result", ordered_json::object()}}));
}

TEST_F(McpServer, InitializeOffersItsNewestVersionForOneItDoesNotSpeak) {
  const auto answers = session(request(1, "initialize", {{"protocolVersion", "banana"}}) + request(2, "initialize") +
                               request(3, "initialize", {{"protocolVersion", "2024-11-05"}}));
  ASSERT_EQ(answers.size(), 3u) << last_.out;
  EXPECT_EQ(answers[0]["result"]["protocolVersion"], "2025-06-18");
  EXPECT_EQ(answers[1]["result"]["protocolVersion"], "2025-06-18");
  EXPECT_EQ(answers[2]["result"]["protocolVersion"], "2024-11-05");
}

TEST_F(McpServer, ListsEveryToolWithADescriptionAndAnObjectSchema) {
  const auto answers = session(request(1, "tools/list"));
  ASSERT_EQ(answers.size(), 1u);
  std::vector<std::string> names;
  for (const ordered_json& tool : answers[0]["result"]["tools"]) {
    names.push_back(tool["name"]);
    EXPECT_FALSE(tool["description"].get<std::string>().empty()) << tool.dump();
    EXPECT_EQ(tool["inputSchema"]["type"], "object") << tool.dump();
  }
  EXPECT_EQ(names, (std::vector<std::string>{"status", "session_summary", "prepare_attestation", "sync"}));
}

TEST_F(McpServer, ProtocolErrorsAreAnsweredAndTheStreamGoesOn) {
  const auto answers = session("{not json\n" +
                               std::string(R"({"jsonrpc":"2.0","id":null,"method":"ping"})"
                                           "\n") +
                               request(3, "no/such/method") +
                               R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"arguments":{}}})"
                               "\n" +
                               call(5, "no_such_tool") + call(6, "status", {{"bogus", 1}}) + request(7, "ping"));
  EXPECT_EQ(last_.exit_code, 0) << last_.err;
  ASSERT_EQ(answers.size(), 7u) << last_.out;
  // No usable id: the answers carry none (not even null, which clients refuse).
  EXPECT_EQ(answers[0]["error"]["code"], -32700);
  EXPECT_FALSE(answers[0].contains("id")) << answers[0].dump();
  EXPECT_EQ(answers[1]["error"]["code"], -32600);
  EXPECT_FALSE(answers[1].contains("id")) << answers[1].dump();
  EXPECT_EQ(answers[2]["error"]["code"], -32601);
  EXPECT_EQ(answers[2]["id"], 3);
  EXPECT_EQ(answers[3]["error"]["code"], -32602);
  EXPECT_EQ(answers[4]["error"]["code"], -32602);
  // A known tool's bad arguments are the agent's to fix: a result it reads.
  EXPECT_TRUE(tool_failed(answers[5])) << answers[5].dump();
  EXPECT_NE(tool_text(answers[5]).find("unknown argument `bogus`"), std::string::npos) << tool_text(answers[5]);
  EXPECT_EQ(answers[6]["id"], 7);
  EXPECT_TRUE(answers[6].contains("result"));
}

TEST_F(McpServer, AnOversizedMessageIsRefusedAndSkipped) {
  const std::string huge =
      R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"pad":")" + std::string(9 * 1024 * 1024, 'x') + "\"}}\n";
  const auto answers = session(huge + request(2, "ping"));
  EXPECT_EQ(last_.exit_code, 0) << last_.err;
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0]["error"]["code"], -32600);
  EXPECT_EQ(answers[1]["id"], 2);
}

TEST_F(McpServer, EndOfInputEndsTheServerCleanly) {
  const auto answers = session("");
  EXPECT_EQ(last_.exit_code, 0) << last_.err;
  EXPECT_TRUE(answers.empty());
  EXPECT_EQ(last_.out, "");
}

TEST_F(McpServer, StatusToolReportsWhatStatusJsonReports) {
  set_up_repository();
  const TamrikResult command = tamrik({"status", "--json"});
  ASSERT_EQ(command.exit_code, 0) << command.err;
  const auto answers = session(call(1, "status"));
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_FALSE(tool_failed(answers[0]));
  EXPECT_EQ(ordered_json::parse(tool_text(answers[0])), ordered_json::parse(command.out));
}

TEST_F(McpServer, AToolThatFailsIsAnErrorResultNotABrokenStream) {
  TempDir outside;
  const auto answers = session(call(1, "status") + request(2, "ping"), outside.path());
  ASSERT_EQ(answers.size(), 2u) << last_.out;
  EXPECT_TRUE(tool_failed(answers[0]));
  EXPECT_FALSE(tool_text(answers[0]).empty());
  EXPECT_EQ(answers[1]["id"], 2);
  EXPECT_EQ(last_.exit_code, 0);
}

TEST_F(McpServer, SessionSummaryNamesTheAgentAndTheProjectOnlyWhereSetUp) {
  const auto before_setup = session(call(1, "session_summary"));
  ASSERT_EQ(before_setup.size(), 1u);
  EXPECT_TRUE(tool_failed(before_setup[0]));
  EXPECT_NE(tool_text(before_setup[0]).find("tamrik is not set up in "), std::string::npos);

  set_up_repository();
  ASSERT_EQ(tamrik({"setup", "project", "42"}).exit_code, 0);
  const auto answers = session(call(1, "session_summary", {{"agent", "Claude Code"}}));
  ASSERT_EQ(answers.size(), 1u);
  const std::string text = tool_text(answers[0]);
  EXPECT_FALSE(tool_failed(answers[0]));
  EXPECT_EQ(text.rfind("tamrik session context loaded\n", 0), 0u) << text;
  EXPECT_NE(text.find("  project: 42\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  agent: claude-code\n"), std::string::npos) << text;
}

TEST_F(McpServer, PrepareAttestationWritesThePendingFile) {
  set_up_repository();
  const std::string hash = stage_change();
  const auto answers = session(call(1, "prepare_attestation",
                                    {{"staged_diff_hash", hash},
                                     {"model", "claude-opus-4-6"},
                                     {"summary", "Add the feature"},
                                     {"task_type", "feature"},
                                     {"rules", {{"checked", true}, {"applicable", {"r1"}}}}}));
  ASSERT_EQ(answers.size(), 1u) << last_.out;
  EXPECT_FALSE(tool_failed(answers[0])) << tool_text(answers[0]);
  const std::string pending = read_text(tamrik_dir() / ".commit-attestation.yaml");
  EXPECT_NE(pending.find("staged_diff_hash: " + hash), std::string::npos) << pending;
  EXPECT_NE(pending.find("summary: Add the feature"), std::string::npos) << pending;
  EXPECT_NE(pending.find("r1"), std::string::npos) << pending;
}

TEST_F(McpServer, PrepareAttestationRefusesAStaleDiffHash) {
  set_up_repository();
  stage_change();
  const std::string stale(64, 'a');
  const auto answers =
      session(call(1, "prepare_attestation", {{"staged_diff_hash", stale}, {"model", "m"}, {"summary", "s"}}) +
              call(2, "prepare_attestation",
                   {{"staged_diff_hash", stale}, {"model", "m"}, {"summary", "s"}, {"task_type", "not-a-type"}}) +
              call(3, "prepare_attestation", {{"model", "m"}, {"summary", "s"}}));
  ASSERT_EQ(answers.size(), 3u) << last_.out;
  EXPECT_TRUE(tool_failed(answers[0]));
  EXPECT_NE(tool_text(answers[0]).find("Diff hash mismatch"), std::string::npos) << tool_text(answers[0]);
  EXPECT_TRUE(tool_failed(answers[1]));
  EXPECT_NE(tool_text(answers[1]).find("`task_type` must be one of"), std::string::npos) << tool_text(answers[1]);
  EXPECT_TRUE(tool_failed(answers[2]));
  EXPECT_NE(tool_text(answers[2]).find("missing required argument `staged_diff_hash`"), std::string::npos)
      << tool_text(answers[2]);
  EXPECT_FALSE(fs::exists(tamrik_dir() / ".commit-attestation.yaml"));
}

}  // namespace
}  // namespace tamrik::testing
