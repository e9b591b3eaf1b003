#pragma once
// What a tool of the agent tool server is: a name, a description written for
// the agent, a JSON Schema for its arguments, and the body.

#include "synccore/synccore.hpp"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tamrik::cli::mcp {

using core::Json;

// What the agent reads back. A failure is a result too (is_error), so the
// agent sees why and the stream goes on.
struct ToolResult {
  std::string text;
  bool is_error = false;
};

// Arguments that do not fit the schema. The message is for the agent.
class InvalidArguments : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Tool {
  std::string name;
  std::string description;
  Json input_schema;
  // Gets the arguments object (empty when the call had none). May throw
  // InvalidArguments; any other exception becomes a failed result.
  std::function<ToolResult(const Json& arguments)> call;
};

// The tools the server offers, in the order tools/list shows them.
std::vector<Tool> all_tools();

}  // namespace tamrik::cli::mcp
