#pragma once
// Git access: every question synccore asks of a repository runs one git
// child here, in an explicit directory, within a time limit. No answer is
// always an ordinary value ("", "unknown" or nullopt), never an exception.

#include "synccore/git_files.hpp"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrik::synccore {

using std::filesystem::path;

// The word of a subject's conventional-commit prefix ("feat" of
// "feat(scope)!: ..."), and of a branch whose first path component is a
// word ("fix" of "fix/login"); nullopt when there is none.
std::optional<std::string_view> _subject_prefix_word(std::string_view subject);
std::optional<std::string_view> _branch_prefix_word(std::string_view branch);

// Lower-cased prefix word -> task type. "perf" is a chore on purpose.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 14> _TASK_TYPE_PREFIXES{{
    {"feat", "feature"},
    {"feature", "feature"},
    {"fix", "bug-fix"},
    {"bugfix", "bug-fix"},
    {"hotfix", "bug-fix"},
    {"refactor", "refactor"},
    {"docs", "docs"},
    {"doc", "docs"},
    {"test", "test"},
    {"tests", "test"},
    {"chore", "chore"},
    {"perf", "chore"},
    {"build", "chore"},
    {"ci", "chore"},
}};

// Runs `git <args>` in `cwd` (ours when absent). Trimmed stdout decoded as
// UTF-8 with U+FFFD for bad bytes, or "" when git could not start, timed
// out or exited non-zero.
std::string _git(const std::vector<std::string>& args, const std::optional<path>& cwd = std::nullopt);

// _git's output, one entry per line; empty when git failed.
std::vector<std::string> _git_lines(const std::vector<std::string>& args,
                                    const std::optional<path>& cwd = std::nullopt);

// _git("rev-parse", args...), or "unknown" when that is empty.
std::string _git_rev_parse(const std::vector<std::string>& args, const std::optional<path>& cwd = std::nullopt);

// The full hash of the commit `commit` names (hash, abbreviation, branch,
// tag, "HEAD"), or nullopt. Tags peel to their commit; trees and blobs fail.
std::optional<std::string> _resolve_full_sha(const path& work_tree, std::string_view commit);

// A commit's full hash with the branch checked out now.
struct CommitOnBranch {
  std::string full;
  // As _git_rev_parse("--abbrev-ref", "HEAD") gives it, except while a
  // rebase has HEAD detached: then the branch being rebased.
  std::string branch;
  std::string git_dir;  // this checkout's git directory; "" when git did not say
  // Its parents' full hashes; empty for a root commit, and when git could
  // not answer everything in one run.
  std::vector<std::string> parents;
  // The commit's own fields, when they were read from git's files on the way.
  std::optional<CommitFields> fields;
};

// _resolve_full_sha, the commit's parents and the branch lookup together,
// from one git child when all have an answer (the usual case at commit
// time); nullopt when the commit does not resolve.
std::optional<CommitOnBranch> _resolve_full_sha_on_branch(const path& work_tree, std::string_view commit);

// The commit a cherry-pick in progress in `git_dir` is copying, from its
// CHERRY_PICK_HEAD; nullopt when none is, and during a rebase, whose picks
// leave the same file behind.
std::optional<std::string> _cherry_picked_commit(const path& git_dir);

// Author date and identity, committer identity and subject of `full`:
// from git's own files when they hold the commit plainly, else from one
// git child. Fields git did not answer are empty.
CommitFields commit_fields(const path& work_tree, const std::string& full);

// The full hashes of a commit's parents; empty for a root commit or when git
// fails.
std::vector<std::string> _parents_of(const path& work_tree, const std::string& full);

// Task type from a conventional subject prefix, else from the branch's
// first path component, else nullopt. Pure.
std::optional<std::string> infer_task_type(std::optional<std::string_view> subject,
                                           std::optional<std::string_view> branch);

}  // namespace tamrik::synccore
