#pragma once
// HEAD and a fresh commit read straight from git's own files, without a git
// child: the post-commit hook's common case, where each git child costs
// about as much as the rest of the record. Only the plain case is answered
// (a loose commit object, a branch in a loose or packed ref, SHA-1, no
// replace refs, grafts, shallow history, repository extensions or other
// message encodings); anything else is nullopt and the caller asks git,
// so an answer here is always the one git would give.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::synccore {

using std::filesystem::path;

// The fields `git show -s --format=%aI%n%an%n%ae%n%cn%n%ce%n%s` prints,
// decoded as _git decodes them.
struct CommitFields {
  std::vector<std::string> parents;  // full hashes, in order
  std::string author_date;           // strict ISO 8601, as %aI
  std::string author_name;
  std::string author_email;
  std::string committer_name;
  std::string committer_email;
  std::string subject;  // as %s: the first paragraph joined into one line
};

// The commit checked out in `work_tree`, as `git rev-parse HEAD^{commit}
// HEAD^@ --abbrev-ref HEAD --absolute-git-dir` would name it.
struct HeadFromFiles {
  std::string full;
  std::string branch;  // the short branch name, "HEAD" when detached
  path git_dir;        // this checkout's own git directory, real path
  CommitFields fields;
};

std::optional<HeadFromFiles> read_head_from_files(const path& work_tree);

// The loose commit `full` of the repository whose checkout is `work_tree`.
std::optional<CommitFields> read_commit_from_files(const path& work_tree, const std::string& full);

// Parses a commit object's content (what follows "commit <size>\0"); nullopt
// when it is not the plain case described above. Exposed for the tests.
std::optional<CommitFields> parse_commit_object(std::string_view content);

}  // namespace tamrik::synccore
