#include "host/services/checkout.hpp"

#include "core/file_io.hpp"
#include "core/git_runner.hpp"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

namespace tamrik::services {

namespace {

// Git's pointer files hold one path and a line break.
constexpr size_t kGitPointerCap = PATH_MAX + 64;

std::string first_line(std::string text) {
  const size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return text;
}

// The pointer file's path, relative paths taken from `base`; nullopt when
// it cannot be read.
std::optional<path> read_pointer(const path& file, const path& base, std::string_view prefix = "") {
  const std::optional<std::string> text = core::try_read_file(file, kGitPointerCap);
  if (!text) return std::nullopt;
  std::string line = first_line(*text);
  if (!line.starts_with(prefix)) return std::nullopt;
  line.erase(0, prefix.size());
  if (line.empty() || line.find('\0') != std::string::npos) return std::nullopt;
  const path target = line;
  return target.is_absolute() ? target : base / target;
}

std::optional<path> real_path(const path& where) {
  const std::unique_ptr<char, decltype(&::free)> real(::realpath(where.c_str(), nullptr), &::free);
  if (!real) return std::nullopt;
  return path(real.get());
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

[[noreturn]] void no_home(const path& work_tree, const std::string& why) {
  throw NoRepositoryHomeError(work_tree.string() + " " + why);
}

}  // namespace

// A linked worktree's `.git` is a file "gitdir: <common>/worktrees/<name>",
// and that directory's `commondir` names the common git directory, whose
// parent is the main working tree when the repository is not bare. Reading
// those files costs less than a git child on every hook, but the `.git`
// file sits in the working tree, where anything may have been unpacked. So
// the home is taken only when the trusted side agrees: the worktree's git
// directory lies in `<home>/.git/worktrees/`, `<home>/.git` is a real
// directory (no link) and is the common directory, and its `gitdir` file
// names this checkout's `.git` back. A checkout git itself would refuse
// fails one of these too.
path home_of(const path& work_tree) {
  const path dot_git = work_tree / ".git";
  struct stat entry {};
  if (::lstat(dot_git.c_str(), &entry) != 0 || !S_ISREG(entry.st_mode)) return work_tree;

  const std::optional<path> git_dir = read_pointer(dot_git, work_tree, "gitdir: ");
  if (!git_dir) no_home(work_tree, "has a .git file that names no git directory; run `git worktree repair` there");
  // No `commondir`: a submodule or a separated git directory, which is a
  // repository of its own and its own home.
  const std::optional<path> common_named = read_pointer(*git_dir / "commondir", *git_dir);
  if (!common_named) return work_tree;

  const std::optional<path> common = real_path(*common_named);
  const std::optional<path> own_dir = real_path(*git_dir);
  if (!common || !own_dir || own_dir->parent_path() != *common / "worktrees") {
    no_home(work_tree,
            "is a worktree whose git directory is not where its repository keeps worktrees; "
            "run `git worktree repair` in the main working tree");
  }
  path home = common->parent_path();
  struct stat home_git {};
  struct stat common_dir {};
  const bool non_bare = common->filename() == ".git" && ::lstat((home / ".git").c_str(), &home_git) == 0 &&
                        S_ISDIR(home_git.st_mode) && ::stat(common->c_str(), &common_dir) == 0 &&
                        same_file(home_git, common_dir);
  if (!non_bare) {
    no_home(work_tree, "is a worktree of the bare repository " + common->string() +
                           ", which has no main working tree for tamrik's ledger. tamrik keeps one ledger per "
                           "repository in its main working tree: clone the repository with a working tree "
                           "(`git clone " +
                           common->string() +
                           " <dir>`), add worktrees from that clone, and run "
                           "`tamrik setup` there");
  }

  const std::optional<path> named_back = read_pointer(*own_dir / "gitdir", *own_dir);
  const std::optional<path> named_back_real = named_back ? real_path(*named_back) : std::nullopt;
  const std::optional<path> dot_git_real = real_path(dot_git);
  if (!named_back_real || named_back_real != dot_git_real) {
    no_home(work_tree,
            "is a worktree its repository records elsewhere (moved by hand?); run `git worktree repair` "
            "there");
  }
  return home;
}

std::optional<GitDirs> git_dirs_of(const path& work_tree) {
  const path dot_git = work_tree / ".git";
  struct stat entry {};
  if (::lstat(dot_git.c_str(), &entry) != 0) return std::nullopt;
  const std::optional<path> own = S_ISREG(entry.st_mode) ? read_pointer(dot_git, work_tree, "gitdir: ") : dot_git;
  if (!own) return std::nullopt;
  const std::optional<path> common = read_pointer(*own / "commondir", *own);
  std::optional<path> own_real = real_path(*own);
  std::optional<path> common_real = real_path(common.value_or(*own));
  if (!own_real || !common_real) return std::nullopt;
  return GitDirs{std::move(*own_real), std::move(*common_real)};
}

std::optional<Checkout> checkout_at(const path& work_tree) {
  try {
    return Checkout{work_tree, home_of(work_tree)};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Checkout current_checkout() {
  const core::ProcessResult result = core::run_git({"rev-parse", "--show-toplevel"}, {});
  if (result.status == core::ProcessStatus::could_not_start) {
    throw NotARepositoryError("git could not be run; install git (or put it on PATH) and try again");
  }
  std::string top = result.out_text();
  while (!top.empty() && (top.back() == '\n' || top.back() == '\r')) top.pop_back();
  if (!result.ok() || top.empty()) {
    throw NotARepositoryError("not inside a git working tree; run this from a checkout of your repository");
  }
  return {top, home_of(top)};
}

}  // namespace tamrik::services
