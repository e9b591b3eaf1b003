#pragma once
// What agents read from a repository besides their hooks: the platform's
// skills, installed by the public skills installer and by the context
// refresh into the directory each agent harness loads skills from, and
// tamrik's block in the file each harness reads standing instructions from.
//
//   agent         skills directory     guidance file (relative to the root)
//   claude-code   .claude/skills       CLAUDE.md
//   codex         .agents/skills       AGENTS.md
//   gemini-cli    .gemini/skills       GEMINI.md
//   cursor        .cursor/skills       AGENTS.md
//   windsurf      .windsurf/skills     AGENTS.md
//
// Each is the project-level place the harness's own documentation names;
// an agent not listed (aider, say) has no documented place and gets
// nothing rather than a guess.
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

// The configuration key (.tamrik/.platform/config.yaml) that asks for new
// guidance blocks: `guidance: true`. The files are usually tracked and
// shared with a team, so a block goes into one only on request; a block
// already there is kept up to date either way.
inline constexpr std::string_view GUIDANCE_SWITCH = "guidance";

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
// kept; a file already holding its text is not touched). Returns false for
// an agent without a known place. Throws OSError.
bool place_skill(const path& repo_root, std::string_view agent, const services::context_cache::Skill& skill);

// The file `agent` reads a repository's standing instructions from,
// relative to its root; nullopt for an agent without a known one.
std::optional<path> guidance_file(std::string_view agent);

// Puts tamrik's guidance block (where the cached project context is, and
// the attestation each commit needs) into the guidance file of each of
// `agents`: an earlier block is replaced where it stands, a new one goes at
// the end (only with `add_new_blocks`; without it, a file, or a block, that
// is not there stays so), and everything outside it is kept byte for byte. A file that
// would not change is not written, so an unchanged sync leaves it alone. A
// guidance file that is a link is written through to its target, unless
// that lies outside the repository. Returns the files written, relative to
// the root. Throws OSError.
std::vector<path> write_guidance(const path& repo_root, const std::vector<std::string>& agents, bool add_new_blocks);

// Takes the block out of every guidance file any agent reads, configured
// or not; a file left empty is removed. Returns the files changed,
// relative to the root. Throws OSError.
std::vector<path> remove_guidance(const path& repo_root);

}  // namespace tamrik::hooks::agent_guidance
