#pragma once
// The JSON-RPC side of the tool server: one incoming message in, at most
// one answer out. Knows the methods; the tools themselves are given, and
// their calls are handed to a ToolRunner, which answers them when done.

#include "cli/mcp/tool.hpp"
#include "cli/mcp/tool_runner.hpp"

#include <optional>
#include <string_view>

namespace tamrik::cli::mcp {

// JSON-RPC error codes.
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;

// The protocol versions this server speaks, newest first. A client asking
// for another one is offered the newest.
inline constexpr std::string_view kProtocolVersions[] = {"2025-06-18", "2025-03-26", "2024-11-05"};

// An error answer. A null `id` (the request's id is unknown or unusable)
// leaves the id out, as the protocol's schema has it.
Json error_response(const Json& id, int code, const std::string& message);

class Dispatcher {
 public:
  Dispatcher(std::vector<Tool> tools, std::string version, ToolRunner& runner)
      : tools_(std::move(tools)), version_(std::move(version)), runner_(runner) {}

  // The answer to one line of input, or nullopt for a notification and for
  // a tool call, which the runner answers. Never throws for anything the
  // client sends.
  std::optional<Json> handle_line(std::string_view line);

 private:
  std::optional<Json> handle_message(const Json& message);
  void notified(const std::string& method, const Json& params);
  std::optional<Json> dispatch(const std::string& method, const Json& id, const Json& params);
  Json initialize(const Json& id, const Json& params) const;
  Json list_tools(const Json& id) const;
  std::optional<Json> call_tool(const Json& id, const Json& params);

  std::vector<Tool> tools_;
  std::string version_;
  ToolRunner& runner_;
};

}  // namespace tamrik::cli::mcp
