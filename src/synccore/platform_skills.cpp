#include "synccore/platform_skills.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/log.hpp"
#include "core/process.hpp"
#include "core/program_search.hpp"
#include "host/services/gitignore.hpp"
#include "synccore/diagnostics.hpp"

#include <cstdlib>
#include <string>
#include <vector>

namespace tamrik::synccore {

std::chrono::milliseconds skills_install_time_limit{120'000};

namespace {

bool skip_switch_set() {
  const char* value = std::getenv("TAMRIK_SKIP_PLATFORM_SKILLS");
  return value != nullptr && *value != '\0';
}

bool is_existing_directory(const path& dir) {
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec);
}

core::ProcessResult run_installer(const path& repo_root, const path& npx_home) {
  core::make_dirs(npx_home);
  // Its own session, so a time-out kills whatever npx started too.
  return core::run_process(_skills_install_cmd(npx_home), {.cwd = repo_root,
                                                           .timeout = skills_install_time_limit,
                                                           .stdin_mode = core::StdinMode::devnull,
                                                           .capture_stderr = true,
                                                           .new_process_group = true});
}

// The installer also writes a stray copy into agent/skills. Ignored only
// when it is the installer's: the directory is new, or git tracks nothing
// in it. A repository's own agent/skills stays visible.
void ignore_stray_copy(const path& repo_root, bool existed_before) {
  if (!is_existing_directory(repo_root / "agent" / "skills")) return;
  if (existed_before && services::shared::git_tracks_any_below(repo_root, "agent/skills")) return;
  try {
    const std::string_view entry = services::shared::SKILLS_INSTALLER_ENTRY;
    services::shared::ensure_gitignore(repo_root, std::span(&entry, 1));
    logger.debug("npx skills wrote a stray `agent/` dir (upstream issue); ignored, not removed");
  } catch (const std::exception& e) {
    logger.debug("Ignoring the skills installer's stray agent/skills failed", {}, e);
  }
}

}  // namespace

std::vector<std::string> _skills_install_cmd(const path& npx_home) {
  return {"npx", "--prefix", npx_home.string(), "-y", std::string(SKILLS_INSTALLER), "add", std::string(SKILLS_PACKAGE),
          "-y"};
}

std::optional<path> _npx_home() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && path(cache).is_absolute()) return path(cache) / "tamrik" / "npx";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return path(home) / ".cache" / "tamrik" / "npx";
  return std::nullopt;
}

bool install_platform_skills(const path& repo_root) {
  if (skip_switch_set()) {
    logger.debug("TAMRIK_SKIP_PLATFORM_SKILLS set — skipping npx install");
    return false;
  }
  if (!core::find_on_path("npx")) {
    logger.debug("npx not found — skipping platform-skill install");
    return false;
  }
  const std::optional<path> npx_home = _npx_home();
  if (!npx_home) {
    logger.debug("Neither XDG_CACHE_HOME nor HOME is set — skipping platform-skill install");
    return false;
  }
  const bool stray_existed = is_existing_directory(repo_root / "agent" / "skills");
  core::ProcessResult result;
  try {
    result = run_installer(repo_root, *npx_home);
  } catch (const std::exception& e) {
    logger.debug("Platform-skill install failed", {}, e);
    return false;
  }
  switch (result.status) {
    case core::ProcessStatus::could_not_start:
      logger.debug("Platform-skill install failed to start", {}, core::OSError("spawn npx", result.start_error));
      return false;
    case core::ProcessStatus::timed_out:
      logger.debug("Platform-skill install timed out; process group killed");
      return false;
    case core::ProcessStatus::signaled:
      // A negative status names the signal that ended it.
      logger.debug("Platform-skill install exited %s", {std::to_string(-result.signal)});
      return false;
    case core::ProcessStatus::exited:
      break;
  }
  if (result.exit_code != 0) {
    logger.debug("Platform-skill install exited %s", {std::to_string(result.exit_code)});
    return false;
  }
  ignore_stray_copy(repo_root, stray_existed);
  return true;
}

void ensure_platform_skills(const path& repo_root) {
  if (!hooks::agent_guidance::installed_platform_slugs(repo_root).empty()) return;
  install_platform_skills(repo_root);
}

}  // namespace tamrik::synccore
