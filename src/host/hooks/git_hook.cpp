#include "host/hooks/git_hook.hpp"

#include "core/file_io.hpp"
#include "core/git_runner.hpp"
#include "host/hooks/hook_place.hpp"
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

constexpr std::string_view kShebang = "#!/bin/sh\n";

struct HookText {
  block::Markers markers;
  std::string_view arguments;  // what the hook passes to tamrik, as shell words
};

HookText text_of(GitHook hook) {
  if (hook == GitHook::post_commit) {
    return {{"# >>> tamrik: record commits >>>", "# <<< tamrik <<<"}, "sync --record-commit"};
  }
  return {{"# >>> tamrik: carry attestations of rewritten commits >>>", "# <<< tamrik <<<"},
          "sync --record-rewrite \"$1\""};
}

// Runs tamrik, or the one on PATH when `program` is gone, silently and
// never failing; `input` is what it reads on stdin. A hook shared with the
// team (`program` empty) runs the one on PATH only: a path into this
// machine means nothing on a teammate's.
std::string run_line(const path& program, std::string_view arguments, std::string_view input) {
  const std::string args(arguments);
  const std::string in(input);
  const std::string tail = std::string("fi") + (input.empty() ? " </dev/null" : "") + " >/dev/null 2>&1 || :\n";
  const std::string on_path = "command -v tamrik >/dev/null 2>&1; then " + in + "tamrik " + args + "; ";
  if (program.empty()) return "if " + on_path + tail;
  const std::string quoted = shell_quote(program.string());
  return "if [ -x " + quoted + " ]; then " + in + quoted + " " + args + "; elif " + on_path + tail;
}

std::string block_body(GitHook hook, const path& program) {
  const std::string_view arguments = text_of(hook).arguments;
  if (hook == GitHook::post_commit) {
    return "# Records each commit in tamrik's ledger. It never fails the commit: when\n"
           "# tamrik cannot run, the next agent session start records the commit.\n" +
           run_line(program, arguments, "");
  }
  // Git lists the rewritten commits on stdin; the lines of this hook after
  // the block get the list as well.
  return "# Carries the attestations of amended and rebased commits to the commits\n"
         "# that replace them. It never fails the rewrite.\n"
         "tamrik_rewritten=$(cat)\n" +
         run_line(program, arguments, "printf '%s\\n' \"$tamrik_rewritten\" | ") +
         "exec <<tamrik_rewritten_end\n"
         "$tamrik_rewritten\n"
         "tamrik_rewritten_end\n";
}

bool is_executable(const path& file) { return ::access(file.c_str(), X_OK) == 0; }

}  // namespace

std::string_view git_hook_name(GitHook hook) { return hook == GitHook::post_commit ? "post-commit" : "post-rewrite"; }

path git_hook_path(const path& repo_root, GitHook hook) {
  const core::ProcessResult result = core::run_git({"rev-parse", "--git-path", "hooks"}, repo_root);
  std::string dir = result.out_text();
  while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r')) dir.pop_back();
  if (!result.ok() || dir.empty())
    throw core::OSError("git rev-parse --git-path hooks in " + repo_root.string(), ENOENT);
  const path hooks = dir;
  return (hooks.is_absolute() ? hooks : repo_root / hooks) / git_hook_name(hook);
}

bool install_hook_at(const HookPlace& place, GitHook hook, const path& program) {
  const path& file = place.file;
  const HookText text = text_of(hook);
  const std::optional<std::string> existing = user_file::read_if_exists(file);
  const std::string before = existing && !existing->empty() ? *existing : std::string(kShebang);
  const std::string call =
      (place.shared ? std::string("tamrik") : program.string()) + " " + std::string(text.arguments);
  if (!takes_shell_lines(before)) {
    throw UnusableHookError(file.string() +
                            " is not a shell script, so tamrik cannot add its line to it; add a call to `" + call +
                            "` there yourself (its exit status does not matter)");
  }
  if (existing && place.needs_execute_bit && !is_executable(file)) {
    throw UnusableHookError(file.string() + " is not executable, so git does not run it; make it executable " +
                            "(chmod +x) if it should run, then run `tamrik setup` again");
  }
  const std::string after = block::with_block(before, text.markers, block_body(hook, place.shared ? path() : program),
                                              block::Placement::after_shebang);
  if (existing && after == *existing) return false;
  user_file::replace(file, after, 0755);
  return true;
}

bool install_git_hook(const path& repo_root, GitHook hook, const path& program) {
  const HookPlace place = hook_place(repo_root, hook);
  if (place.snippet) throw UnusableHookError(snippet_instructions(place));
  return install_hook_at(place, hook, program);
}

bool remove_hook_block(const path& file, GitHook hook) {
  const block::Markers markers = text_of(hook).markers;
  const std::optional<std::string> existing = user_file::read_if_exists(file);
  if (!existing || !block::find_block(*existing, markers)) return false;
  const std::string after = block::without_block(*existing, markers);
  if (only_shebang_left(after)) {
    user_file::remove(file);
  } else {
    user_file::replace(file, after, 0755);
  }
  return true;
}

bool uninstall_git_hook(const path& repo_root, GitHook hook) {
  const HookPlace place = hook_place(repo_root, hook);
  // Earlier setups wrote where git runs hooks even under a manager.
  const bool from_git_runs = remove_hook_block(place.git_runs, hook);
  const bool from_place = !place.snippet && place.file != place.git_runs && remove_hook_block(place.file, hook);
  return from_git_runs || from_place;
}

bool git_hook_installed(const path& repo_root, GitHook hook) {
  try {
    const HookPlace place = hook_place(repo_root, hook);
    if (place.snippet) return snippet_in_place(place, hook);
    const std::optional<std::string> text = core::try_read_file(place.file, core::kSmallFileCap);
    return text && block::find_block(*text, text_of(hook).markers).has_value() &&
           (!place.needs_execute_bit || is_executable(place.file));
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tamrik::hooks::installer
