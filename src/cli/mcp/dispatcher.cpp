#include "cli/mcp/dispatcher.hpp"

#include "cli/mcp/argument_check.hpp"
#include "core/log.hpp"

namespace tamrik::cli::mcp {

namespace {

const core::Logger logger("mcp");

Json result_response(const Json& id, Json result) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

// An id is text or a number; anything else makes the request invalid.
bool valid_id(const Json& id) { return id.is_string() || id.is_number_integer() || id.is_number_unsigned(); }

Json tool_result(const ToolResult& result) {
  return {{"content", Json::array({{{"type", "text"}, {"text", result.text}}})}, {"isError", result.is_error}};
}

}  // namespace

Json error_response(const Json& id, int code, const std::string& message) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

std::optional<Json> Dispatcher::handle_line(std::string_view line) const {
  const std::optional<Json> message = core::parse_json(line);
  if (!message) return error_response(nullptr, kParseError, "Parse error: the line is not valid JSON");
  return handle_message(*message);
}

std::optional<Json> Dispatcher::handle_message(const Json& message) const {
  if (!message.is_object()) return error_response(nullptr, kInvalidRequest, "Invalid Request: expected an object");
  const bool has_id = message.contains("id");
  const Json id = has_id ? message["id"] : Json();
  if (has_id && !valid_id(id)) return error_response(nullptr, kInvalidRequest, "Invalid Request: bad id");
  const Json method = message.value("method", Json());
  if (message.value("jsonrpc", Json()) != "2.0" || !method.is_string()) {
    // An answer from the client to a request we never send: nothing to say.
    if (has_id && (message.contains("result") || message.contains("error"))) return std::nullopt;
    return error_response(id, kInvalidRequest, "Invalid Request: needs jsonrpc \"2.0\" and a method");
  }
  const Json params = message.value("params", Json::object());
  if (!params.is_object() && !params.is_array()) {
    return has_id ? std::optional(error_response(id, kInvalidParams, "Invalid params: not an object"))
                  : std::nullopt;
  }
  if (!has_id) {
    // Notifications (initialized, cancelled, ...) get no answer.
    logger.debug("notification %s", {method.get<std::string>()});
    return std::nullopt;
  }
  return dispatch(method.get<std::string>(), id, params);
}

Json Dispatcher::dispatch(const std::string& method, const Json& id, const Json& params) const {
  if (method == "initialize") return initialize(id, params);
  if (method == "ping") return result_response(id, Json::object());
  if (method == "tools/list") return list_tools(id);
  if (method == "tools/call") return call_tool(id, params);
  return error_response(id, kMethodNotFound, "Method not found: " + method);
}

Json Dispatcher::initialize(const Json& id, const Json& params) const {
  const Json requested = params.is_object() ? params.value("protocolVersion", Json()) : Json();
  const std::string version = requested.is_string() ? requested.get<std::string>() : kDefaultProtocolVersion;
  return result_response(id, {{"protocolVersion", version},
                              {"capabilities", {{"tools", Json::object()}}},
                              {"serverInfo", {{"name", "tamrik"}, {"version", version_}}}});
}

Json Dispatcher::list_tools(const Json& id) const {
  Json listed = Json::array();
  for (const Tool& tool : tools_) {
    listed.push_back({{"name", tool.name}, {"description", tool.description}, {"inputSchema", tool.input_schema}});
  }
  return result_response(id, {{"tools", listed}});
}

Json Dispatcher::call_tool(const Json& id, const Json& params) const {
  const Json name = params.is_object() ? params.value("name", Json()) : Json();
  if (!name.is_string()) return error_response(id, kInvalidParams, "Invalid params: tools/call needs a tool name");
  const Json arguments = params.value("arguments", Json::object());
  if (!arguments.is_object()) return error_response(id, kInvalidParams, "Invalid params: arguments must be an object");
  for (const Tool& tool : tools_) {
    if (tool.name != name.get<std::string>()) continue;
    try {
      check_arguments(tool.input_schema, arguments);
      return result_response(id, tool_result(tool.call(arguments)));
    } catch (const InvalidArguments& e) {
      return error_response(id, kInvalidParams, std::string("Invalid params: ") + e.what());
    } catch (const std::exception& e) {
      return result_response(id, tool_result({"tamrik " + tool.name + " failed: " + e.what(), true}));
    }
  }
  return error_response(id, kInvalidParams, "Unknown tool: " + name.get<std::string>());
}

}  // namespace tamrik::cli::mcp
