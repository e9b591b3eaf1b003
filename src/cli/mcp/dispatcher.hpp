#pragma once
// The JSON-RPC side of the tool server: one incoming message in, at most
// one answer out. Knows the methods; the tools themselves are given.

#include "cli/mcp/tool.hpp"

#include <optional>
#include <string_view>

namespace tamrik::cli::mcp {

// JSON-RPC error codes.
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;

inline constexpr const char* kDefaultProtocolVersion = "2024-11-05";

// An error answer; `id` is null when the request's id is unknown.
Json error_response(const Json& id, int code, const std::string& message);

class Dispatcher {
 public:
  Dispatcher(std::vector<Tool> tools, std::string version) : tools_(std::move(tools)), version_(std::move(version)) {}

  // The answer to one line of input, or nullopt for a notification. Never
  // throws for anything the client sends.
  std::optional<Json> handle_line(std::string_view line) const;

 private:
  std::optional<Json> handle_message(const Json& message) const;
  Json dispatch(const std::string& method, const Json& id, const Json& params) const;
  Json initialize(const Json& id, const Json& params) const;
  Json list_tools(const Json& id) const;
  Json call_tool(const Json& id, const Json& params) const;

  std::vector<Tool> tools_;
  std::string version_;
};

}  // namespace tamrik::cli::mcp
