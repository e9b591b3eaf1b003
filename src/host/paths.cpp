#include "host/paths.hpp"

#include "core/confinement.hpp"

namespace tamrik::paths {

path tamrik_dir(const path& repo_root) {
  // What is under .tamrik may have come with a clone: from the moment a
  // command names it, core's file operations refuse links and special files
  // there (core/confinement.hpp).
  path dir = repo_root / ".tamrik";
  core::confine(dir);
  return dir;
}

path log_jsonl(const path& repo_root) { return tamrik_dir(repo_root) / "log.jsonl"; }

path attestations_dir(const path& repo_root) { return tamrik_dir(repo_root) / "attestations"; }

path commit_attestation(const path& work_tree) { return tamrik_dir(work_tree) / ".commit-attestation.yaml"; }

path example_attestation(const path& repo_root) { return tamrik_dir(repo_root) / "example-attestation.yaml"; }

path ledger_jsonl(const path& repo_root, std::string_view slug) {
  return tamrik_dir(repo_root) / "ledgers" / (std::string(slug) + ".jsonl");
}

path archived_ledger(const path& repo_root, std::string_view commit) {
  return attestations_dir(repo_root) / (std::string(commit) + ".ledger.jsonl");
}

path legacy_dir(const path& repo_root) { return tamrik_dir(repo_root) / "platform"; }

path legacy_ledger(const path& repo_root) {
  path file = repo_root / ".tamriklog";
  core::confine(file);
  return file;
}

path platform_dir(const path& repo_root) { return tamrik_dir(repo_root) / ".platform"; }

path local_config_file(const path& repo_root) { return platform_dir(repo_root) / "config.yaml"; }

path too_large_records(const path& repo_root) { return platform_dir(repo_root) / "too-large.json"; }

path repository_file(const path& repo_root, const path& relative) {
  core::confine(repo_root / *relative.begin());
  return repo_root / relative;
}

bool is_safe_slug(std::string_view slug) {
  if (slug.empty() || slug.size() > 128 || slug == "." || slug == "..") return false;
  for (char c : slug) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

}  // namespace tamrik::paths
