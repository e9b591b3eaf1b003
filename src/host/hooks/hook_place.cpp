#include "host/hooks/hook_place.hpp"

#include "core/file_io.hpp"
#include "host/paths.hpp"
#include "host/services/gitignore.hpp"

#include <array>
#include <string_view>

namespace tamrik::hooks::installer {

namespace {

// The call each snippet makes (guarded, so that a machine without tamrik on
// PATH commits as before): its presence in the config shows the snippet is in.
constexpr std::string_view kRecordCall = "tamrik sync --record-commit";
constexpr std::string_view kRewriteCall = "tamrik sync --record-rewrite";

struct Manager {
  std::string_view name;
  std::array<std::string_view, 4> configs;  // at the root; the first present one is it
  std::string_view post_commit;             // the snippet; "" when the manager has no way to run ours
  std::string_view post_rewrite;
  std::string_view then;  // what makes the manager install it
};

constexpr std::array<Manager, 3> kManagers = {{
    {"lefthook",
     {"lefthook.yml", ".lefthook.yml", "lefthook.yaml", ".lefthook.yaml"},
     "post-commit:\n"
     "  commands:\n"
     "    tamrik:\n"
     "      run: command -v tamrik >/dev/null 2>&1 && tamrik sync --record-commit || true\n",
     "post-rewrite:\n"
     "  commands:\n"
     "    tamrik:\n"
     "      run: command -v tamrik >/dev/null 2>&1 && tamrik sync --record-rewrite {1} || true\n"
     "      use_stdin: true\n",
     "lefthook install"},
    // pre-commit hands a hook no list of rewritten commits, so post-rewrite
    // keeps the plain git hook, which pre-commit keeps running as its
    // `.legacy` hook if it ever takes that hook over.
    {"pre-commit",
     {".pre-commit-config.yaml", "", "", ""},
     "  - repo: local\n"
     "    hooks:\n"
     "      - id: tamrik\n"
     "        name: tamrik records the commit\n"
     "        entry: sh -c 'command -v tamrik >/dev/null 2>&1 && tamrik sync --record-commit || true'\n"
     "        language: system\n"
     "        stages: [post-commit]\n"
     "        always_run: true\n"
     "        pass_filenames: false\n",
     "",
     "pre-commit install --hook-type post-commit"},
    {"simple-git-hooks",
     {".simple-git-hooks.json", "simple-git-hooks.json", "package.json", ""},
     "\"post-commit\": \"command -v tamrik >/dev/null 2>&1 && tamrik sync --record-commit || true\"\n",
     "\"post-rewrite\": \"command -v tamrik >/dev/null 2>&1 && tamrik sync --record-rewrite \\\"$1\\\" || true\"\n",
     "npx simple-git-hooks"},
}};

std::optional<std::string> read_root_file(const path& work_tree, std::string_view name) {
  try {
    return core::try_read_file(paths::repository_file(work_tree, name), core::kDocumentFileCap);
  } catch (const std::exception&) {
    return std::nullopt;  // a link or a special file is no config of anyone's
  }
}

// The manager's config file at the root, when the repository has one. A
// package.json counts only when it configures simple-git-hooks.
std::optional<path> config_of(const path& work_tree, const Manager& manager) {
  for (std::string_view name : manager.configs) {
    if (name.empty()) continue;
    const std::optional<std::string> text = read_root_file(work_tree, name);
    if (!text) continue;
    if (name == "package.json" && text->find("\"simple-git-hooks\"") == std::string::npos) continue;
    return work_tree / name;
  }
  return std::nullopt;
}

// `dir` relative to the top of the checkout when it lies in the working
// tree (git's own directory does not count); nullopt otherwise.
std::optional<path> inside_tree(const path& work_tree, const path& dir) {
  const path relative = dir.lexically_normal().lexically_relative(work_tree.lexically_normal());
  if (relative.empty() || relative == "." || *relative.begin() == ".." || *relative.begin() == ".git") {
    return std::nullopt;
  }
  return relative;
}

}  // namespace

HookPlace hook_place(const path& work_tree, GitHook hook) {
  const std::string name(git_hook_name(hook));
  const std::optional<path> in_tree = inside_tree(work_tree, git_hook_path(work_tree, hook).parent_path());
  const path git_runs = in_tree ? paths::repository_file(work_tree, *in_tree / name) : git_hook_path(work_tree, hook);
  // husky 9 points git at its generated <dir>/.husky/_, whose stubs run <dir>/.husky/<hook>.
  if (in_tree && in_tree->filename() == "_" && in_tree->parent_path().filename() == ".husky") {
    return {
        paths::repository_file(work_tree, in_tree->parent_path() / name), git_runs, true, false, std::nullopt, "husky"};
  }
  for (const Manager& manager : kManagers) {
    const std::string_view snippet = hook == GitHook::post_commit ? manager.post_commit : manager.post_rewrite;
    if (snippet.empty()) continue;
    if (const std::optional<path> config = config_of(work_tree, manager)) {
      return {*config, git_runs, true, false, std::string(snippet), std::string(manager.name)};
    }
  }
  if (in_tree) {
    const bool tracked = services::shared::git_tracks_any_below(work_tree, in_tree->generic_string());
    return {git_runs, git_runs, tracked, true, std::nullopt, ""};
  }
  return {git_runs, git_runs, false, true, std::nullopt, ""};
}

std::string snippet_instructions(const HookPlace& place) {
  for (const Manager& manager : kManagers) {
    if (manager.name != place.manager) continue;
    const std::string where = manager.name == "simple-git-hooks" ? " (in its \"simple-git-hooks\" object)" : "";
    return std::string(manager.name) + " manages this repository's git hooks, so tamrik leaves them alone. Add to " +
           place.file.filename().string() + where + ":\n" + place.snippet.value_or("") + "then run `" +
           std::string(manager.then) + "`.";
  }
  return "";
}

bool snippet_in_place(const HookPlace& place, GitHook hook) {
  const std::optional<std::string> text = read_root_file(place.file.parent_path(), place.file.filename().string());
  return text && text->find(hook == GitHook::post_commit ? kRecordCall : kRewriteCall) != std::string::npos;
}

}  // namespace tamrik::hooks::installer
