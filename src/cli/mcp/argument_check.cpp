#include "cli/mcp/argument_check.hpp"

#include "cli/mcp/tool.hpp"

#include <algorithm>

namespace tamrik::cli::mcp {

namespace {

bool has_type(const Json& value, const std::string& type) {
  if (type == "string") return value.is_string();
  if (type == "integer") return value.is_number_integer();
  if (type == "boolean") return value.is_boolean();
  if (type == "object") return value.is_object();
  return false;
}

void check_property(const std::string& name, const Json& property, const Json& value) {
  const std::string type = property.value("type", "");
  if (!has_type(value, type)) throw InvalidArguments("`" + name + "` must be of type " + type);
  if (property.contains("enum")) {
    const Json& allowed = property["enum"];
    if (std::find(allowed.begin(), allowed.end(), value) == allowed.end()) {
      throw InvalidArguments("`" + name + "` must be one of " + allowed.dump());
    }
  }
  if (property.contains("minimum") && value.get<long long>() < property["minimum"].get<long long>()) {
    throw InvalidArguments("`" + name + "` must be at least " + property["minimum"].dump());
  }
}

}  // namespace

void check_arguments(const Json& schema, const Json& arguments) {
  const Json& properties = schema["properties"];
  for (const auto& [name, value] : arguments.items()) {
    if (!properties.contains(name)) throw InvalidArguments("unknown argument `" + name + "`");
    check_property(name, properties[name], value);
  }
  for (const Json& name : schema.value("required", Json::array())) {
    if (!arguments.contains(name.get<std::string>())) {
      throw InvalidArguments("missing required argument `" + name.get<std::string>() + "`");
    }
  }
}

}  // namespace tamrik::cli::mcp
