#pragma once
// How the platform knows a repository: by its origin remote.

#include <filesystem>
#include <optional>
#include <string>

namespace tamrik::services::repo_identity {

// The URL git would fetch origin from (insteadOf rewrites applied), or
// nullopt when the repository has no origin, is no repository, or git
// cannot answer. Never throws.
std::optional<std::string> origin_remote(const std::filesystem::path& repo_root);

}  // namespace tamrik::services::repo_identity
