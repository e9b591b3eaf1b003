#pragma once
// A stored record as a listing returns it.

#include "core/json.hpp"

#include <optional>
#include <string>

namespace tamrik::platform {

// The record stored as `stored`, carrying `superseded_by` when the platform
// has it replaced (a client's own `superseded_by` is never passed on).
core::Json listed_record(const std::string& stored, const std::optional<std::string>& superseded_by);

}  // namespace tamrik::platform
