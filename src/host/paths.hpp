#pragma once
// Workspace paths: every file and directory tamrik keeps in a repository.
// None of these create anything.
//
// `repo_root` is the repository's home (services::Checkout): its main
// working tree, one for all of its worktrees. The files of one checkout's
// own change, which two agents in two worktrees must not share, take that
// checkout's `work_tree` instead and are marked so below.
//
// <repo>/.tamrik/
//   log.jsonl                    the ledger, one line per recorded commit
//   attestations/<sha>.yaml      archived attestation of a commit
//   attestations/<sha>.ledger.jsonl   sealed ledger of the change it completed
//   ledgers/<slug>.jsonl         live ledger of an in-flight change
//   .commit-attestation.yaml     the pending attestation an agent wrote (per checkout)
//   .unattested-head             HEAD recorded without attestation (per checkout)
//   example-attestation.yaml     example of a complete attestation
//   .platform/config.yaml        local configuration
//   .platform/too-large.json     records set aside as too large to upload
//   .platform/...                cached project context, logs/sync.log
//   platform/                    the older layout (config.yaml or config.json)

#include <filesystem>
#include <string_view>

namespace tamrik::paths {

using std::filesystem::path;

path tamrik_dir(const path& repo_root);
path log_jsonl(const path& repo_root);
path attestations_dir(const path& repo_root);
path commit_attestation(const path& work_tree);
path example_attestation(const path& repo_root);
// `slug` must pass is_safe_slug(); callers check before building a path.
path ledger_jsonl(const path& repo_root, std::string_view slug);
// `commit` must be a valid commit hash; callers check.
path archived_ledger(const path& repo_root, std::string_view commit);
path legacy_dir(const path& repo_root);
// The ledger of the oldest layout, <repo>/.tamriklog; confined like .tamrik.
path legacy_ledger(const path& repo_root);
path platform_dir(const path& repo_root);
path local_config_file(const path& repo_root);
path too_large_records(const path& repo_root);

// A file of the repository's own tree that tamrik reads or writes
// (.gitignore, .mcp.json, skills): it came with the clone, so its first
// component is confined like .tamrik and no link below the root is followed.
path repository_file(const path& repo_root, const path& relative);

// A change slug that may name a file: 1 to 128 characters of [A-Za-z0-9._-],
// and not "." or ".." alone, so it can never leave its directory.
bool is_safe_slug(std::string_view slug);

}  // namespace tamrik::paths
