#pragma once
// Driving `tamrik mcp` the way an agent harness does: JSON-RPC lines on
// stdin, answers read from stdout. Every line the server writes to stdout
// must be a JSON-RPC message; anything else fails the test.

#include "cli_fixture.hpp"

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

  // Runs a session with `input` in the repository and returns the answers,
  // one per line.
  std::vector<ordered_json> session(const std::string& input) {
    last_ = tamrik({"mcp"}, input);
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
    return answers;
  }

  static std::string tool_text(const ordered_json& answer) { return answer["result"]["content"][0]["text"]; }
  static bool tool_failed(const ordered_json& answer) { return answer["result"]["isError"].get<bool>(); }

  TamrikResult last_;
};

}  // namespace tamrik::testing
