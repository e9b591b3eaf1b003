#include "host/hooks/git_hook.hpp"

#include "core/file_io.hpp"
#include "core/git_runner.hpp"
#include "host/hooks/shell_words.hpp"
#include "host/utils/marked_block.hpp"
#include "host/utils/user_file.hpp"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace tamrik::hooks::installer {

namespace {

namespace block = utils::marked_block;
namespace user_file = utils::user_file;

constexpr block::Markers kMarkers{"# >>> tamrik: record commits >>>", "# <<< tamrik <<<"};
constexpr std::string_view kShebang = "#!/bin/sh\n";

std::string block_body(const path& program) {
  const std::string quoted = shell_quote(program.string());
  return "# Records each commit in tamrik's ledger. It never fails the commit: when\n"
         "# tamrik cannot run, the next agent session start records the commit.\n"
         "if [ -x " + quoted + " ]; then " + quoted + " sync --record-commit; "
         "elif command -v tamrik >/dev/null 2>&1; then tamrik sync --record-commit; "
         "fi </dev/null >/dev/null 2>&1 || :\n";
}

bool is_executable(const path& file) { return ::access(file.c_str(), X_OK) == 0; }

}  // namespace

path post_commit_hook_path(const path& repo_root) {
  const core::ProcessResult result = core::run_git({"rev-parse", "--git-path", "hooks"}, repo_root);
  std::string dir = result.out_text();
  while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r')) dir.pop_back();
  if (!result.ok() || dir.empty()) throw core::OSError("git rev-parse --git-path hooks in " + repo_root.string(), ENOENT);
  const path hooks = dir;
  return (hooks.is_absolute() ? hooks : repo_root / hooks) / "post-commit";
}

bool install_post_commit_hook(const path& repo_root, const path& program) {
  const path hook = post_commit_hook_path(repo_root);
  const std::optional<std::string> existing = user_file::read_if_exists(hook);
  const std::string before = existing && !existing->empty() ? *existing : std::string(kShebang);
  if (!takes_shell_lines(before)) {
    throw UnusableHookError(hook.string() + " is not a shell script, so tamrik cannot add its line to it; add a call to `" +
                            program.string() + " sync --record-commit` there yourself (its exit status does not matter)");
  }
  if (existing && !is_executable(hook)) {
    throw UnusableHookError(hook.string() + " is not executable, so git does not run it; make it executable " +
                            "(chmod +x) if it should run, then run `tamrik setup` again");
  }
  const std::string after = block::with_block(before, kMarkers, block_body(program), block::Placement::after_shebang);
  if (existing && after == *existing) return false;
  user_file::replace(hook, after, 0755);
  return true;
}

bool uninstall_post_commit_hook(const path& repo_root) {
  const path hook = post_commit_hook_path(repo_root);
  const std::optional<std::string> existing = user_file::read_if_exists(hook);
  if (!existing || !block::find_block(*existing, kMarkers)) return false;
  const std::string after = block::without_block(*existing, kMarkers);
  if (only_shebang_left(after)) {
    user_file::remove(hook);
  } else {
    user_file::replace(hook, after, 0755);
  }
  return true;
}

bool post_commit_hook_installed(const path& repo_root) {
  try {
    const path hook = post_commit_hook_path(repo_root);
    const std::optional<std::string> text = core::try_read_file(hook, core::kSmallFileCap);
    return text && block::find_block(*text, kMarkers).has_value() && is_executable(hook);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tamrik::hooks::installer
