#pragma once
// Checks a tool's arguments against the small part of JSON Schema the tools
// use: an object of named properties typed "string", "integer", "boolean" or
// "object", an optional "enum" of texts, "minimum" for integers, "required",
// and no other properties.

#include "synccore/synccore.hpp"

namespace tamrik::cli::mcp {

// Throws InvalidArguments naming the first argument that does not fit.
void check_arguments(const core::Json& schema, const core::Json& arguments);

}  // namespace tamrik::cli::mcp
