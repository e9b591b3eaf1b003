#include "cli/mcp/dispatcher.hpp"

#include "cli/mcp/argument_check.hpp"
#include "synccore/synccore.hpp"

#include <algorithm>

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

// The version asked for when this server speaks it, else its newest.
std::string protocol_version(const Json& params) {
  const Json requested = params.is_object() ? params.value("protocolVersion", Json()) : Json();
  for (std::string_view version : kProtocolVersions) {
    if (requested.is_string() && requested.get_ref<const std::string&>() == version) return std::string(version);
  }
  return std::string(kProtocolVersions[0]);
}

ToolResult invalid_arguments(const Tool& tool, const InvalidArguments& error) {
  return {"Invalid arguments for " + tool.name + ": " + error.what() +
              ". Call it again with arguments that fit its input schema (tools/list shows it).",
          true};
}

// Never throws: whatever the tool does, the agent gets a result.
ToolResult run(const Tool& tool, const Json& arguments) {
  try {
    return tool.call(arguments);
  } catch (const InvalidArguments& e) {
    return invalid_arguments(tool, e);
  } catch (const std::exception& e) {
    return {"tamrik " + tool.name + " failed: " + e.what(), true};
  }
}

}  // namespace

Json error_response(const Json& id, int code, const std::string& message) {
  Json answer = {{"jsonrpc", "2.0"}};
  if (!id.is_null()) answer["id"] = id;
  answer["error"] = {{"code", code}, {"message", message}};
  return answer;
}

std::optional<Json> Dispatcher::handle_line(std::string_view line) {
  const std::optional<Json> message = core::parse_json(line);
  if (!message) return error_response(nullptr, kParseError, "Parse error: the line is not valid JSON");
  return handle_message(*message);
}

std::optional<Json> Dispatcher::handle_message(const Json& message) {
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
    return has_id ? std::optional(error_response(id, kInvalidParams, "Invalid params: not an object")) : std::nullopt;
  }
  if (!has_id) {
    notified(method.get<std::string>(), params);
    return std::nullopt;
  }
  return dispatch(method.get<std::string>(), id, params);
}

// Notifications get no answer; of them, only a cancellation asks for work.
void Dispatcher::notified(const std::string& method, const Json& params) {
  logger.debug("notification %s", {method});
  if (method != "notifications/cancelled" || !params.is_object()) return;
  const Json request = params.value("requestId", Json());
  if (valid_id(request)) runner_.cancel(request);
}

std::optional<Json> Dispatcher::dispatch(const std::string& method, const Json& id, const Json& params) {
  if (method == "initialize") return initialize(id, params);
  if (method == "ping") return result_response(id, Json::object());
  if (method == "tools/list") return list_tools(id);
  if (method == "tools/call") return call_tool(id, params);
  return error_response(id, kMethodNotFound, "Method not found: " + method);
}

Json Dispatcher::initialize(const Json& id, const Json& params) const {
  return result_response(id, {{"protocolVersion", protocol_version(params)},
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

// Arguments that do not fit are the agent's to correct, so they come back as
// a failed result it reads, not as a protocol error; so does a failed call.
std::optional<Json> Dispatcher::call_tool(const Json& id, const Json& params) {
  const Json name = params.is_object() ? params.value("name", Json()) : Json();
  if (!name.is_string()) return error_response(id, kInvalidParams, "Invalid params: tools/call needs a tool name");
  const auto tool = std::find_if(tools_.begin(), tools_.end(),
                                 [&name](const Tool& t) { return t.name == name.get_ref<const std::string&>(); });
  if (tool == tools_.end()) return error_response(id, kInvalidParams, "Unknown tool: " + name.get<std::string>());
  const Json arguments = params.value("arguments", Json::object());
  try {
    if (!arguments.is_object()) throw InvalidArguments("the arguments must be an object");
    check_arguments(tool->input_schema, arguments);
  } catch (const InvalidArguments& e) {
    return result_response(id, tool_result(invalid_arguments(*tool, e)));
  }
  // A copy of the tool: the runner may outlive the dispatcher.
  runner_.submit(id, [tool = *tool, arguments, id] { return result_response(id, tool_result(run(tool, arguments))); });
  return std::nullopt;
}

}  // namespace tamrik::cli::mcp
