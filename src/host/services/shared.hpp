#pragma once
// Shared services: the local configuration and small helpers around
// attestation documents.

#include "core/json.hpp"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::services::shared {

using core::Json;
using std::filesystem::path;

// True when the repository has tamrik's local configuration, in the current
// layout (.tamrik/.platform/config.yaml) or the older one (config.yaml or
// config.json in paths::legacy_dir).
bool local_config_exists(const path& repo_root);

// The configuration map: the current layout first, then the older ones. An
// empty object when none exists. Throws YAMLError / JSONDecodeError for a
// configuration file that does not parse, OSError when it cannot be read.
// A file that parses to something other than a map counts as empty.
// Readers take its values through services::read_local_config
// (local_config.hpp); this map is for writers, which keep what they do not
// own.
Json load_local_config(const path& repo_root);

// Writes the whole map to .tamrik/.platform/config.yaml atomically, creating
// the directory. Throws OSError.
void save_local_config(const path& repo_root, const Json& config);

// The text without its "---" front-matter delimiter lines: a leading "---"
// line and the "---" line that closes the document are removed.
std::string strip_yaml_delimiters(std::string_view text);

// The change-spec slugs an attestation's provenance names, in order, without
// duplicates; only slugs safe to name a file (paths::is_safe_slug). Reads
// provenance.type == "spec" with provenance.ref, and the list
// provenance.change_specs (text entries or maps with `slug`).
std::vector<std::string> extract_change_spec_slugs(const Json& parsed);

}  // namespace tamrik::services::shared
