#pragma once
// Entries, hashes and readers for the ledger and record tests.

#include "core/json.hpp"
#include "core/sha256.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_text.hpp"

#include <filesystem>
#include <map>
#include <string>

namespace tamrik::testing {

// A well-formed 40-digit hash derived from `n`.
inline std::string fake_sha(int n) { return core::sha256_hex("commit " + std::to_string(n)).substr(0, 40); }

inline core::Json ledger_entry(const std::string& commit, bool synced = false) {
  core::Json entry = core::Json::object();
  entry["commit"] = commit;
  entry["branch"] = "main";
  entry["timestamp"] = "2024-05-01T10:00:00Z";
  entry["agent"] = "claude-code";
  entry["summary"] = "Add the login form";
  entry["synced"] = synced;
  return entry;
}

// How many ledger lines name each commit (lines that are not JSON objects
// are not counted).
inline std::map<std::string, int> commit_counts(const std::filesystem::path& log_path) {
  std::map<std::string, int> counts;
  const std::string text = read_text(log_path);
  for (std::string_view line : synccore::detail::split_lines(text)) {
    const std::optional<core::Json> entry = core::parse_json(line);
    if (entry && entry->is_object()) ++counts[core::get_text(*entry, "commit")];
  }
  return counts;
}

// The attestation document archived for `sha` in `repo`.
inline core::Json archived(const GitRepo& repo, const std::string& sha) {
  return core::load_yaml(read_text(paths::attestations_dir(repo.root()) / (sha + ".yaml")));
}

// A pending attestation of the staged change `diff_hash`, summary "filed",
// with `extra` YAML lines.
inline void write_pending(const GitRepo& repo, const std::string& diff_hash, const std::string& extra = "") {
  write_text(paths::commit_attestation(repo.root()),
             "---\nstaged_diff_hash: \"" + diff_hash + "\"\nagent_model: m\nsummary: filed\n" + extra + "---\n");
}

}  // namespace tamrik::testing
