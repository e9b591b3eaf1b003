#pragma once
// Driving `tamrik mcp` the way an agent harness does: JSON-RPC lines on
// stdin, answers read from stdout. Every line the server writes to stdout
// must be a JSON-RPC message; anything else fails the test.

#include "cli_fixture.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace tamrik::testing {

class McpClientTest : public CliTest {
 protected:
  static std::string request(int id, const std::string& method, const ordered_json& params = ordered_json::object()) {
    return ordered_json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}.dump() + "\n";
  }

  static std::string call(int id, const std::string& tool, const ordered_json& arguments = ordered_json::object()) {
    return request(id, "tools/call", {{"name", tool}, {"arguments", arguments}});
  }

  // Runs a session with `input` in the repository and returns the answers
  // in the order of their ids (tool calls are answered when they end, other
  // requests at once); answers without an id come first.
  std::vector<ordered_json> session(const std::string& input, const fs::path& cwd = {}) {
    last_ = tamrik({"mcp"}, input, cwd);
    std::vector<ordered_json> answers;
    for (const std::string& line : lines_of(last_.out)) {
      if (line.empty()) continue;
      ordered_json answer = ordered_json::parse(line, nullptr, false);
      if (answer.is_discarded() || !answer.is_object() || answer.value("jsonrpc", "") != "2.0") {
        ADD_FAILURE() << "not a JSON-RPC message on stdout: " << line;
        continue;
      }
      answers.push_back(std::move(answer));
    }
    std::stable_sort(answers.begin(), answers.end(), [](const ordered_json& a, const ordered_json& b) {
      return a.contains("id") && b.contains("id") ? a["id"] < b["id"] : !a.contains("id") && b.contains("id");
    });
    return answers;
  }

  static std::string tool_text(const ordered_json& answer) { return answer["result"]["content"][0]["text"]; }
  static bool tool_failed(const ordered_json& answer) { return answer["result"]["isError"].get<bool>(); }

  TamrikResult last_;
};

}  // namespace tamrik::testing
