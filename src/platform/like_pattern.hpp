#pragma once
// Text filters as SQL LIKE patterns, for both databases.

#include <optional>
#include <string>

namespace tamrik::platform {

// A pattern (with `\` as its escape) matching any value that holds `part`;
// nullopt stays nullopt, a filter not given.
std::optional<std::string> part_pattern(const std::optional<std::string>& part);

}  // namespace tamrik::platform
