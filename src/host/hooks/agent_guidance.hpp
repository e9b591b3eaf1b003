#pragma once
// What agents read from a repository besides their hooks: the platform's
// skills, installed by the public skills installer and by the context
// refresh into the directory each agent harness loads skills from.
//
//   agent         skills directory (relative to the repository root)
//   claude-code   .claude/skills
//   codex         .agents/skills
//   gemini-cli    .gemini/skills
//   cursor        .cursor/skills
//   windsurf      .windsurf/skills
//
// The installer records what it installed in its lock manifest,
// skills-lock.json at the repository root: {"skills": {"<slug>":
// {"source": "<owner>/<repo>", ...}}}.

#include "core/json.hpp"
#include "host/services/context_cache.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::hooks::agent_guidance {

using std::filesystem::path;

// The installer package the platform's engineering skills come from.
inline constexpr std::string_view PLATFORM_SKILLS_PACKAGE = "tamrik/engineering";

// The slugs the installer's lock manifest records as installed from
// PLATFORM_SKILLS_PACKAGE; empty when there is no manifest or it does not
// parse. Skills other sources put in the shared directory do not count.
// Throws OSError when the manifest exists but cannot be read.
std::vector<std::string> installed_platform_slugs(const path& repo_root);

// Where `agent` loads a repository's skills from, relative to its root;
// nullopt for an agent without a known place.
std::optional<path> skills_dir(std::string_view agent);

// Writes `skill`'s files where `agent` reads them (other files there are
// kept). Returns false for an agent without a known place. Throws OSError.
bool place_skill(const path& repo_root, std::string_view agent, const services::context_cache::Skill& skill);

}  // namespace tamrik::hooks::agent_guidance
