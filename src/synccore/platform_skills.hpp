#pragma once
// The platform's engineering skills, installed into a repository by the
// public skills installer run through npx. The installer can take minutes
// and edits files the developer did not touch, so only an interactive sync
// runs it, and only when the skills are missing.

#include "host/hooks/agent_guidance.hpp"

#include <array>
#include <chrono>
#include <filesystem>
#include <string_view>

namespace tamrik::synccore {

using std::filesystem::path;

inline constexpr std::string_view SKILLS_PACKAGE = hooks::agent_guidance::PLATFORM_SKILLS_PACKAGE;
inline constexpr std::array<std::string_view, 6> _SKILLS_INSTALL_CMD = {"npx", "-y", "skills", "add", SKILLS_PACKAGE,
                                                                        "-y"};

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
