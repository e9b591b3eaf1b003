#pragma once
// What the shared services ask git: who is committing here, and the hash of
// the staged change an attestation is written for.

#include "core/json.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::services::shared {

// git's well-known empty tree, what a root commit is diffed against, in the
// object format of `commit` (a SHA-256 hash has 64 digits).
std::string_view empty_tree_for(std::string_view commit);

// The developer map from git's configured identity in `repo_root`:
// git_author_name and git_author_email, empty values left out; nullopt when
// neither is configured.
std::optional<core::Json> detect_git_author(const std::filesystem::path& repo_root);

// SHA-256 (lowercase hex) of a patch with every CR LF turned into LF: the
// one hash that ties an attestation to its commit.
std::string patch_hash(std::string_view patch);

// patch_hash of the staged change, computed so that it equals the hash of
// the commit that change becomes (see the commit matching of pending
// attestations): plumbing `diff-index --cached -p -M HEAD`, which user diff
// settings do not alter, and before the first commit the porcelain diff
// against the empty tree, as the matching does for a root commit. nullopt
// when git cannot answer.
std::optional<std::string> get_staged_diff_hash(const std::filesystem::path& repo_root);

}  // namespace tamrik::services::shared
