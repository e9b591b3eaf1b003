#pragma once
// Small, forgiving readers for values inside transcript lines. Every harness
// changes its format between versions: a missing or mistyped member reads as
// "nothing", never as an error.

#include "core/json.hpp"

#include <optional>
#include <string_view>

namespace tamrik::agents {

using core::get_text;
using core::is_set;
using core::Json;

// The member, or null when `obj` is no object or lacks it.
const Json& member(const Json& obj, std::string_view key);

// A token count: a non-negative integer member, else 0.
long long count_of(const Json& obj, std::string_view key);

// Seconds since the epoch of an ISO 8601 text member, or nullopt.
std::optional<double> time_of(const Json& obj, std::string_view key);

// Whether the raw line holds these bytes: the cheap test before parsing.
bool holds(std::string_view line, std::string_view bytes);

}  // namespace tamrik::agents
