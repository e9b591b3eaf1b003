#include "host/hooks/agent_guidance.hpp"

#include "host/utils/user_file.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace tamrik::hooks::agent_guidance {

namespace {

using core::Json;

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kSkillDirs = {{
    {"claude-code", ".claude/skills"},
    {"codex", ".agents/skills"},
    {"gemini-cli", ".gemini/skills"},
    {"cursor", ".cursor/skills"},
    {"windsurf", ".windsurf/skills"},
}};

// "https://github.com/Tamrik/Engineering.git/" and "github:tamrik/engineering"
// name the package as "tamrik/engineering" does.
std::string package_of(std::string source) {
  std::transform(source.begin(), source.end(), source.begin(), [](unsigned char c) { return std::tolower(c); });
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
  const std::optional<std::string> text = utils::user_file::read_if_exists(repo_root / "skills-lock.json");
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

std::optional<path> skills_dir(std::string_view agent) {
  for (const auto& [name, dir] : kSkillDirs) {
    if (name == agent) return path(dir);
  }
  return std::nullopt;
}

bool place_skill(const path& repo_root, std::string_view agent, const services::context_cache::Skill& skill) {
  const std::optional<path> dir = skills_dir(agent);
  if (!dir) return false;
  for (const services::context_cache::NamedText& file : skill.files) {
    utils::user_file::replace(repo_root / *dir / skill.name / file.name, file.text, 0644);
  }
  return true;
}

}  // namespace tamrik::hooks::agent_guidance
