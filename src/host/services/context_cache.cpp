#include "host/services/context_cache.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/file_lock.hpp"
#include "core/log.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "host/services/local_config.hpp"
#include "host/services/shared.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <set>

namespace tamrik::services::context_cache {

namespace {

namespace fs = std::filesystem;

const core::Logger logger("context_cache");

enum class Form {
  yaml_file,    // one YAML file
  named_files,  // a directory of files named by the platform
  skill_tree,   // a directory per skill
};

struct Place {
  std::string_view document;
  Form form;
  std::string_view where;  // in the platform directory
};

constexpr std::array<Place, 8> kPlaces = {{
    {RULES, Form::yaml_file, "tamrikrules.yaml"},
    {STATE, Form::yaml_file, "tamrikstate.yaml"},
    {CONTEXT, Form::yaml_file, "context.yaml"},
    {MEMORIES, Form::yaml_file, "memories.yaml"},
    {GUARDRAILS, Form::yaml_file, "guardrails.yaml"},
    {SPECS, Form::named_files, "specs"},
    {CUSTOM_DOCS, Form::named_files, "docs"},
    {SKILLS, Form::skill_tree, "skills"},
}};

const Place* place_of(std::string_view document) {
  const auto it = std::find_if(kPlaces.begin(), kPlaces.end(), [&](const Place& p) { return p.document == document; });
  return it == kPlaces.end() ? nullptr : &*it;
}

// "a/b.md" with every part a safe name: it cannot leave its directory.
std::optional<path> safe_relative_path(std::string_view text) {
  path relative;
  size_t start = 0;
  while (start <= text.size()) {
    size_t stop = text.find('/', start);
    if (stop == std::string_view::npos) stop = text.size();
    const std::string_view part = text.substr(start, stop - start);
    if (!paths::is_safe_slug(part)) return std::nullopt;
    relative /= std::string(part);
    start = stop + 1;
  }
  return relative;
}

std::vector<NamedText> named_texts(const Json& content) {
  std::vector<NamedText> files;
  if (!content.is_array()) return files;
  for (const Json& entry : content) {
    const std::string name = entry.is_object() ? core::get_text(entry, "name") : "";
    if (!paths::is_safe_slug(name) || !entry.contains("content") || !entry["content"].is_string()) {
      logger.debug("Skipping a cached document without a usable name or content: %r", {name});
      continue;
    }
    files.push_back({name, entry["content"].get<std::string>()});
  }
  return files;
}

void write_file(const path& file, std::string_view text) {
  core::make_dirs(file.parent_path());
  // The cache can always be fetched again, so it is not flushed to disk.
  core::replace_file_atomically(file, text, core::Durability::no_flush, core::ReplacedMode::keep_target);
}

// Removes what `dir`/`below` holds beyond `kept` (paths relative to `dir`),
// then the directories left empty. A link is removed like a file, never
// followed. Temporary files of a concurrent writer stay.
void prune(const path& dir, const path& below, const std::set<path>& kept) {
  for (const core::DirEntry& entry : core::list_dir(dir / below)) {
    const path relative = below / entry.name;
    if (entry.is_dir) {
      prune(dir, relative, kept);
      core::remove_empty_dir(dir / relative);
    } else if (!kept.contains(relative) && !entry.name.ends_with(".tmp")) {
      core::remove_file(dir / relative);
    }
  }
}

// Makes `dir` hold exactly `files`.
void write_tree(const path& dir, const std::vector<NamedText>& files) {
  core::make_dirs(dir);
  std::set<path> kept;
  for (const NamedText& file : files) {
    write_file(dir / file.name, file.text);
    kept.insert(file.name);
  }
  prune(dir, path(), kept);
}

void write_document(const path& platform, const Place& place, const Json& content) {
  switch (place.form) {
    case Form::yaml_file:
      write_file(platform / place.where, core::emit_yaml(content));
      break;
    case Form::named_files:
      write_tree(platform / place.where, named_texts(content));
      break;
    case Form::skill_tree: {
      std::vector<NamedText> files;
      for (Skill& skill : skills_of(content)) {
        for (NamedText& file : skill.files) files.push_back({skill.name / file.name, std::move(file.text)});
      }
      write_tree(platform / place.where, files);
      break;
    }
  }
}

void touch(const path& file) {
  if (::utimensat(AT_FDCWD, file.c_str(), nullptr, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT) {
    throw core::OSError("utimensat " + file.string(), errno);
  }
}

// config[key] as a map, made one when missing or of another type.
Json& map_member(Json& config, const char* key) {
  Json& member = config[key];
  if (!member.is_object()) member = Json::object();
  return member;
}

}  // namespace

std::vector<Skill> skills_of(const Json& content) {
  std::vector<Skill> skills;
  if (!content.is_array()) return skills;
  for (const Json& entry : content) {
    const std::string name = entry.is_object() ? core::get_text(entry, "name") : "";
    if (!paths::is_safe_slug(name) || !entry.contains("files") || !entry["files"].is_object()) {
      logger.debug("Skipping a skill without a usable name or files: %r", {name});
      continue;
    }
    Skill skill{name, {}};
    for (const auto& [file, text] : entry["files"].items()) {
      const std::optional<path> relative = safe_relative_path(file);
      if (!relative || !text.is_string()) {
        logger.debug("Skipping file %r of skill %r: its name could leave the skill's directory", {file, name});
        continue;
      }
      skill.files.push_back({*relative, text.get<std::string>()});
    }
    skills.push_back(std::move(skill));
  }
  return skills;
}

std::map<std::string, std::string> stored_etags(const path& repo_root) {
  std::map<std::string, std::string> tags;
  const path platform = paths::platform_dir(repo_root);
  for (const auto& [document, tag] : read_local_config(repo_root).etags) {
    const Place* place = place_of(document);
    if (place != nullptr && core::path_exists(platform / place->where)) tags[document] = tag;
  }
  return tags;
}

void write_documents(const path& repo_root, const Documents& documents) {
  const path platform = paths::platform_dir(repo_root);
  core::make_dirs(platform);
  for (const auto& [name, document] : documents) {
    const Place* place = place_of(name);
    if (place == nullptr) continue;
    if (document.status == 200) {
      write_document(platform, *place, document.content);
    } else if (document.status == 304 && place->form == Form::yaml_file) {
      touch(platform / place->where);
    }
  }
}

void record_fetches(const path& repo_root, const Documents& documents) {
  const path config_file = paths::local_config_file(repo_root);
  core::make_dirs(config_file.parent_path());
  // Concurrent refreshes (a hook's and a sync's) must not drop each other's
  // records between reading the configuration and writing it back.
  const core::LockGuard guard = core::locked(config_file);
  Json config = shared::load_local_config(repo_root);
  Json& cache = map_member(config, "cache");
  // Both members exist before either is held: adding a member to an ordered
  // map can move the others.
  map_member(cache, "fetch_status");
  map_member(cache, "etags");
  Json& statuses = cache["fetch_status"];
  Json& etags = cache["etags"];
  for (const auto& [name, document] : documents) {
    statuses[name] = document.status;
    if (document.etag && (document.status == 200 || document.status == 304)) etags[name] = *document.etag;
  }
  shared::save_local_config(repo_root, config);
}

}  // namespace tamrik::services::context_cache
