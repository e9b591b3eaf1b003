#include "host/services/shared.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/log.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace tamrik::services::shared {

namespace {

bool is_regular_file(const path& file) {
  const std::optional<struct stat> st = core::file_status(file);
  return st && S_ISREG(st->st_mode);
}

// Configuration files in the order they are consulted: the current layout
// first, then the older one.
std::vector<path> config_candidates(const path& repo_root) {
  const path legacy = paths::legacy_dir(repo_root);
  return {paths::local_config_file(repo_root), legacy / "config.yaml", legacy / "config.json"};
}

bool is_delimiter(std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
  return line == "---";
}

const core::Logger logger("shared");

// A slug names a file under .tamrik, so one that could leave that directory
// ("../x", "a/b") is dropped here, before any caller builds a path from it.
void add_slug(std::vector<std::string>& slugs, const Json& value) {
  if (!value.is_string()) return;
  const std::string slug = value.get<std::string>();
  if (!paths::is_safe_slug(slug)) {
    logger.debug("Ignoring change slug %r: only letters, digits, '.', '_' and '-' are allowed", {slug});
    return;
  }
  if (std::find(slugs.begin(), slugs.end(), slug) == slugs.end()) slugs.push_back(slug);
}

}  // namespace

bool local_config_exists(const path& repo_root) {
  const auto candidates = config_candidates(repo_root);
  return std::any_of(candidates.begin(), candidates.end(), is_regular_file);
}

Json load_local_config(const path& repo_root) {
  for (const path& file : config_candidates(repo_root)) {
    std::string text;
    try {
      text = core::read_file(file, core::kSmallFileCap);
    } catch (const core::OSError& e) {
      if (e.code() == ENOENT || e.code() == ENOTDIR) continue;
      throw;
    }
    // JSON is a subset of YAML, so one loader reads both layouts.
    Json config = core::load_yaml(text);
    return config.is_object() ? config : Json::object();
  }
  return Json::object();
}

void save_local_config(const path& repo_root, const Json& config) {
  core::make_dirs(paths::platform_dir(repo_root));
  // A read-only file is the person's choice: refused, not replaced.
  core::replace_file_atomically(paths::local_config_file(repo_root), core::emit_yaml(config), core::Durability::flush,
                                core::ReplacedMode::keep_target);
}

std::string strip_yaml_delimiters(std::string_view text) {
  // Skip blank lines before an opening delimiter.
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    const std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (line.find_first_not_of(" \t\r") != std::string_view::npos) break;
    pos = end == std::string_view::npos ? text.size() : end + 1;
  }
  const size_t first_end = text.find('\n', pos);
  const std::string_view first =
      text.substr(pos, first_end == std::string_view::npos ? std::string_view::npos : first_end - pos);
  std::string_view body = text;
  if (is_delimiter(first)) body = first_end == std::string_view::npos ? std::string_view() : text.substr(first_end + 1);

  // The closing delimiter ends the document; anything after it is not part
  // of the attestation.
  std::string out;
  size_t at = 0;
  while (at < body.size()) {
    const size_t end = body.find('\n', at);
    const size_t stop = end == std::string_view::npos ? body.size() : end + 1;
    const std::string_view line = body.substr(at, stop - at);
    std::string_view bare = line;
    if (!bare.empty() && bare.back() == '\n') bare.remove_suffix(1);
    if (is_delimiter(bare)) break;
    out.append(line);
    at = stop;
  }
  return out;
}

std::vector<std::string> extract_change_spec_slugs(const Json& parsed) {
  std::vector<std::string> slugs;
  if (!parsed.is_object()) return slugs;
  const auto provenance = parsed.find("provenance");
  if (provenance == parsed.end() || !provenance->is_object()) return slugs;
  const auto type = provenance->find("type");
  const auto ref = provenance->find("ref");
  if (type != provenance->end() && *type == "spec" && ref != provenance->end()) add_slug(slugs, *ref);
  const auto specs = provenance->find("change_specs");
  if (specs != provenance->end() && specs->is_array()) {
    for (const Json& entry : *specs) {
      if (entry.is_object()) {
        const auto slug = entry.find("slug");
        if (slug != entry.end()) add_slug(slugs, *slug);
      } else {
        add_slug(slugs, entry);
      }
    }
  }
  return slugs;
}

}  // namespace tamrik::services::shared
