#pragma once
// The agents a repository's local configuration names (`agents`).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::synccore {

// The configured agent names, or nullopt when none are configured. Throws
// what read_local_config throws for a configuration that cannot be read.
std::optional<std::vector<std::string>> configured_agents(const std::filesystem::path& repo_root);

}  // namespace tamrik::synccore
