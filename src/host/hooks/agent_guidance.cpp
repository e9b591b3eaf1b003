#include "host/hooks/agent_guidance.hpp"

#include "host/paths.hpp"
#include "host/utils/marked_block.hpp"
#include "host/utils/user_file.hpp"
#include "core/text.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <span>
#include <system_error>
#include <utility>

namespace tamrik::hooks::agent_guidance {

namespace {

namespace block = utils::marked_block;
namespace user_file = utils::user_file;
using core::Json;

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kSkillDirs = {{
    {"claude-code", ".claude/skills"},
    {"codex", ".agents/skills"},
    {"gemini-cli", ".gemini/skills"},
    {"cursor", ".cursor/skills"},
    {"windsurf", ".windsurf/skills"},
}};

// Codex, Cursor and Windsurf all read AGENTS.md at the root: one file, one
// block, however many of them are configured.
constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kGuidanceFiles = {{
    {"claude-code", "CLAUDE.md"},
    {"codex", "AGENTS.md"},
    {"gemini-cli", "GEMINI.md"},
    {"cursor", "AGENTS.md"},
    {"windsurf", "AGENTS.md"},
}};

// Markdown comments: invisible where the file is rendered, plain to an agent.
constexpr block::Markers kGuidanceMarkers{
    "<!-- >>> tamrik: kept up to date by `tamrik sync`; edits inside this block are replaced >>> -->",
    "<!-- <<< tamrik <<< -->"};

std::optional<path> find_in(std::span<const std::pair<std::string_view, std::string_view>> table,
                            std::string_view agent) {
  for (const auto& [name, place] : table) {
    if (name == agent) return path(place);
  }
  return std::nullopt;
}

std::string guidance_body() {
  const std::string cache = paths::platform_dir(path()).generic_string() + "/";
  return "## Project context (tamrik)\n"
         "\n"
         "`tamrik sync` keeps this project's context from the tamrik platform in `" +
         cache +
         "`. "
         "Read it before you plan a change:\n"
         "\n"
         "- `" +
         cache +
         "tamrikrules.yaml`: the project's rules (principles, ADRs, checks). Follow them.\n"
         "- `" +
         cache +
         "tamrikstate.yaml`: the declared architecture.\n"
         "- `" +
         cache +
         "specs/`: the change specs.\n"
         "- `" +
         cache + "guardrails.yaml`, `" + cache + "context.yaml` and `" + cache +
         "docs/`: guardrails, the project and its systems, further documents.\n"
         "\n"
         "Before each `git commit`, attest the staged change with `tamrik attest` "
         "(`tamrik attest --help` lists what it needs).\n";
}

// Replaces `file`, which holds `before` (nullopt: there is no file), with
// `after` unless they are the same. Returns whether it wrote.
bool replace_if_changed(const path& file, const std::optional<std::string>& before, std::string_view after) {
  if (before && *before == after) return false;
  user_file::replace(file, after, 0644);
  return true;
}

// Where to write guidance file `file`, relative to the root: the file
// itself, or the target of a link (CLAUDE.md -> AGENTS.md is common) so the
// link survives. nullopt for a link leading out of the repository: that
// file is not the repository's to edit.
std::optional<path> write_target(const path& repo_root, const path& file) {
  std::error_code error;
  if (!std::filesystem::is_symlink(repo_root / file, error)) return file;
  const std::optional<path> target = user_file::link_target(repo_root / file);
  if (!target) return std::nullopt;
  const path root = std::filesystem::weakly_canonical(repo_root, error);
  if (error) return std::nullopt;
  const path inside = target->lexically_relative(root);
  if (inside.empty() || *inside.begin() == "..") return std::nullopt;
  return inside;
}

// The distinct files to write for `files`, each once, in order.
std::vector<path> write_targets(const path& repo_root, const std::vector<path>& files) {
  std::vector<path> targets;
  for (const path& file : files) {
    const std::optional<path> target = write_target(repo_root, file);
    if (target && std::find(targets.begin(), targets.end(), *target) == targets.end()) targets.push_back(*target);
  }
  return targets;
}

// "https://github.com/Tamrik/Engineering.git/" and "github:tamrik/engineering"
// name the package as "tamrik/engineering" does.
std::string package_of(std::string source) {
  source = core::lower_ascii(source);
  for (std::string_view prefix : {"https://github.com/", "http://github.com/", "git@github.com:", "github:"}) {
    if (source.starts_with(prefix)) source.erase(0, prefix.size());
  }
  while (source.ends_with("/")) source.pop_back();
  if (source.ends_with(".git")) source.resize(source.size() - 4);
  return source;
}

bool from_platform_package(const Json& entry) {
  return entry.is_object() && package_of(core::get_text(entry, "source")) == PLATFORM_SKILLS_PACKAGE;
}

}  // namespace

std::vector<std::string> installed_platform_slugs(const path& repo_root) {
  std::vector<std::string> slugs;
  const std::optional<std::string> text =
      utils::user_file::read_if_exists(paths::repository_file(repo_root, "skills-lock.json"));
  const std::optional<Json> manifest = text ? core::parse_json(*text) : std::nullopt;
  if (!manifest || !manifest->is_object() || !manifest->contains("skills")) return slugs;
  const Json& skills = (*manifest)["skills"];
  if (skills.is_object()) {
    for (const auto& [slug, entry] : skills.items()) {
      if (from_platform_package(entry)) slugs.push_back(slug);
    }
  } else if (skills.is_array()) {
    for (const Json& entry : skills) {
      const std::string slug = entry.is_object() ? core::get_text(entry, "name") : "";
      if (!slug.empty() && from_platform_package(entry)) slugs.push_back(slug);
    }
  }
  return slugs;
}

std::optional<path> skills_dir(std::string_view agent) { return find_in(kSkillDirs, agent); }

bool place_skill(const path& repo_root, std::string_view agent, const services::context_cache::Skill& skill) {
  const std::optional<path> dir = skills_dir(agent);
  if (!dir) return false;
  for (const services::context_cache::NamedText& file : skill.files) {
    const path place = paths::repository_file(repo_root, *dir / skill.name / file.name);
    replace_if_changed(place, user_file::read_if_exists(place), file.text);
  }
  return true;
}

std::optional<path> guidance_file(std::string_view agent) { return find_in(kGuidanceFiles, agent); }

std::vector<path> write_guidance(const path& repo_root, const std::vector<std::string>& agents, bool add_new_blocks) {
  std::vector<path> files;
  for (const std::string& agent : agents) {
    if (const std::optional<path> file = guidance_file(agent)) files.push_back(*file);
  }
  const std::string body = guidance_body();
  std::vector<path> written;
  for (const path& file : write_targets(repo_root, files)) {
    const std::optional<std::string> before = user_file::read_if_exists(repo_root / file);
    if (!add_new_blocks && !(before && block::find_block(*before, kGuidanceMarkers))) continue;
    const std::string after = block::with_block(before.value_or(""), kGuidanceMarkers, body, block::Placement::end);
    if (replace_if_changed(repo_root / file, before, after)) written.push_back(file);
  }
  return written;
}

std::vector<path> remove_guidance(const path& repo_root) {
  std::vector<path> files;
  for (const auto& [agent, file] : kGuidanceFiles) files.emplace_back(file);
  std::vector<path> changed;
  for (const path& file : write_targets(repo_root, files)) {
    const std::optional<std::string> before = user_file::read_if_exists(repo_root / file);
    if (!before) continue;
    const std::string after = block::without_block(*before, kGuidanceMarkers);
    if (after == *before) continue;
    if (after.empty()) {
      user_file::remove(repo_root / file);
    } else {
      user_file::replace(repo_root / file, after, 0644);
    }
    changed.push_back(file);
  }
  return changed;
}

}  // namespace tamrik::hooks::agent_guidance
