#pragma once
// The platform's engineering skills, installed into a repository by the
// public skills installer run through npx. The installer can take minutes
// and edits files the developer did not touch, so only an interactive sync
// runs it, and only when the skills are missing.

#include "host/hooks/agent_guidance.hpp"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::synccore {

using std::filesystem::path;

inline constexpr std::string_view SKILLS_PACKAGE = hooks::agent_guidance::PLATFORM_SKILLS_PACKAGE;
// The installer package, by name and version: what runs is what was chosen,
// never whatever a registry or a repository offers under that name.
inline constexpr std::string_view SKILLS_INSTALLER = "skills@1.7.4";

// The installer's argument list. npx runs in the repository, where the
// installer writes, but with `--prefix` naming `npx_home`, a directory of
// tamrik's own: npx then neither prefers a node_modules/.bin nor reads an
// .npmrc that the repository brought with it.
std::vector<std::string> _skills_install_cmd(const path& npx_home);

// tamrik's own directory for npx: $XDG_CACHE_HOME/tamrik/npx (~/.cache/...
// without XDG); nullopt without HOME.
std::optional<path> _npx_home();

// How long the installer may run before it and everything it started are
// killed: 120 seconds. Tests shorten it; the product never changes it.
extern std::chrono::milliseconds skills_install_time_limit;

// Runs the installer in `repo_root`. True only when it ran and exited with
// status 0. Never throws: a skip switch (TAMRIK_SKIP_PLATFORM_SKILLS set to
// anything), a missing npx, a failed start, a failure or a time-out each
// give false with one debug line.
bool install_platform_skills(const path& repo_root);

// Runs the installer only when its manifest records none of the platform's
// skills. Throws what installed_platform_slugs throws.
void ensure_platform_skills(const path& repo_root);

}  // namespace tamrik::synccore
