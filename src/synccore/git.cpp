#include "synccore/git.hpp"

#include "core/file_io.hpp"
#include "core/git_runner.hpp"
#include "core/utf8.hpp"
#include "synccore/ledger.hpp"
#include "core/text.hpp"

#include <algorithm>

namespace tamrik::synccore {

namespace {

std::string trim_whitespace(std::string_view text) { return std::string(core::trim(text, core::kAsciiSpace)); }

std::optional<std::string> task_type_of(std::string_view word) {
  const std::string lower = core::lower_ascii(word);
  for (const auto& [prefix, type] : _TASK_TYPE_PREFIXES) {
    if (prefix == lower) return std::string(type);
  }
  return std::nullopt;
}

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The letters at `text`'s start, and what follows them.
std::pair<std::string_view, std::string_view> leading_word(std::string_view text) {
  size_t end = 0;
  while (end < text.size() && is_ascii_letter(text[end])) ++end;
  return {text.substr(0, end), text.substr(end)};
}

}  // namespace

// Both are written out by hand rather than as a std::regex: compiling the
// regex cost every recorded commit a sixth of its work.
std::optional<std::string_view> _subject_prefix_word(std::string_view subject) {
  const size_t start = std::min(subject.find_first_not_of(core::kAsciiSpace), subject.size());
  auto [word, rest] = leading_word(subject.substr(start));
  if (word.empty()) return std::nullopt;
  if (rest.starts_with('(')) {
    const size_t close = rest.find(')');
    if (close == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(close + 1);
  }
  if (rest.starts_with('!')) rest.remove_prefix(1);
  if (!rest.starts_with(':')) return std::nullopt;
  return word;
}

std::optional<std::string_view> _branch_prefix_word(std::string_view branch) {
  const auto [word, rest] = leading_word(branch);
  if (word.empty() || !rest.starts_with('/')) return std::nullopt;
  return word;
}

namespace {

// The first line of a small file of git's own state; "" when it is missing
// or unreadable. The git directory is trusted, the read still bounded.
std::string git_state_line(const path& file) {
  const std::optional<std::string> text = core::try_read_file(file, core::kSmallFileCap);
  if (!text) return "";
  return trim_whitespace(text->substr(0, text->find('\n')));
}

// A rebase detaches HEAD and keeps the branch it rebases in head-name
// (rebase-merge for the interactive and merge backends, rebase-apply for
// the apply backend); a rebase of a detached HEAD names none.
std::optional<std::string> branch_being_rebased(const path& git_dir) {
  constexpr std::string_view kBranchRefs = "refs/heads/";
  for (const char* state : {"rebase-merge", "rebase-apply"}) {
    const std::string head_name = git_state_line(git_dir / state / "head-name");
    if (head_name.starts_with(kBranchRefs) && head_name.size() > kBranchRefs.size()) {
      return head_name.substr(kBranchRefs.size());
    }
  }
  return std::nullopt;
}

bool rebase_in_progress(const path& git_dir) {
  return core::path_exists(git_dir / "rebase-merge") || core::path_exists(git_dir / "rebase-apply");
}

// The branch to record: the one checked out, or while a rebase has HEAD
// detached the one it rebases.
std::string recorded_branch(std::string branch, const std::string& git_dir) {
  if (branch != "HEAD" || git_dir.empty()) return branch;
  return branch_being_rebased(git_dir).value_or(branch);
}

}  // namespace

std::string _git(const std::vector<std::string>& args, const std::optional<path>& cwd) {
  try {
    const core::ProcessResult result = core::run_git(args, cwd.value_or(path()));
    if (!result.ok()) return "";
    return trim_whitespace(result.out_text());
  } catch (const std::exception&) {
    return "";
  }
}

std::vector<std::string> _git_lines(const std::vector<std::string>& args, const std::optional<path>& cwd) {
  const std::string out = _git(args, cwd);
  std::vector<std::string> lines;
  for (std::string_view line : core::lines_of(out)) lines.emplace_back(line);
  return lines;
}

std::string _git_rev_parse(const std::vector<std::string>& args, const std::optional<path>& cwd) {
  std::vector<std::string> full{"rev-parse"};
  full.insert(full.end(), args.begin(), args.end());
  std::string out = _git(full, cwd);
  return out.empty() ? "unknown" : out;
}

std::optional<std::string> _resolve_full_sha(const path& work_tree, std::string_view commit) {
  std::string out = _git_rev_parse({"--verify", std::string(commit) + "^{commit}"}, work_tree);
  if (!_is_valid_commit_hash(out)) return std::nullopt;
  return out;
}

std::optional<CommitOnBranch> _resolve_full_sha_on_branch(const path& work_tree, std::string_view commit) {
  // HEAD at commit time is nearly always answered by git's files alone.
  if (commit == "HEAD") {
    if (std::optional<HeadFromFiles> head = read_head_from_files(work_tree)) {
      const std::string git_dir = head->git_dir.string();
      return CommitOnBranch{.full = std::move(head->full),
                            .branch = recorded_branch(std::move(head->branch), git_dir),
                            .git_dir = git_dir,
                            .parents = head->fields.parents,
                            .fields = std::move(head->fields)};
    }
  }
  // Without --verify rev-parse answers several questions in one run, one
  // line each: the commit, its parents (none for a root commit), the commit
  // again, the branch, then the git directory. When any fails the whole run
  // fails and we ask them apart.
  const std::string name(commit);
  const std::vector<std::string> lines = _git_lines(
      {"rev-parse", name + "^{commit}", name + "^@", name + "^{commit}", "--abbrev-ref", "HEAD", "--absolute-git-dir"},
      work_tree);
  if (lines.size() >= 4 && std::all_of(lines.begin(), lines.end() - 2, _is_valid_commit_hash)) {
    const std::string git_dir = trim_whitespace(lines.back());
    CommitOnBranch found{.full = lines.front(),
                         .branch = recorded_branch(trim_whitespace(lines[lines.size() - 2]), git_dir),
                         .git_dir = git_dir};
    // Each name is resolved anew: with another process committing, HEAD
    // can move between them, and the parents would be a later commit's.
    const bool same_commit = lines[lines.size() - 3] == found.full;
    found.parents =
        same_commit ? std::vector<std::string>(lines.begin() + 1, lines.end() - 3) : _parents_of(work_tree, found.full);
    if (!found.branch.empty()) return found;
  }
  std::optional<std::string> full = _resolve_full_sha(work_tree, commit);
  if (!full) return std::nullopt;
  std::vector<std::string> parents = _parents_of(work_tree, *full);
  const std::vector<std::string> where =
      _git_lines({"rev-parse", "--abbrev-ref", "HEAD", "--absolute-git-dir"}, work_tree);
  const std::string git_dir = where.size() == 2 ? where[1] : "";
  return CommitOnBranch{.full = std::move(*full),
                        .branch = recorded_branch(where.size() == 2 ? where[0] : "unknown", git_dir),
                        .git_dir = git_dir,
                        .parents = std::move(parents)};
}

std::optional<std::string> _cherry_picked_commit(const path& git_dir) {
  if (git_dir.empty() || rebase_in_progress(git_dir)) return std::nullopt;
  std::string picked = git_state_line(git_dir / "CHERRY_PICK_HEAD");
  if (!_is_valid_commit_hash(picked)) return std::nullopt;
  return picked;
}

CommitFields commit_fields(const path& work_tree, const std::string& full) {
  if (std::optional<CommitFields> fields = read_commit_from_files(work_tree, full)) return std::move(*fields);
  const std::string shown =
      _git({"show", "-s", "--no-show-signature", "--format=%aI%n%an%n%ae%n%cn%n%ce%n%s", full}, work_tree);
  // Six lines, the subject last; git's trimming may have taken the empty
  // ones at the end.
  std::array<std::string, 6> parts;
  size_t start = 0;
  for (size_t i = 0; i < parts.size() && start <= shown.size(); ++i) {
    const size_t end = i + 1 == parts.size() ? std::string::npos : shown.find('\n', start);
    parts[i] = shown.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? shown.size() + 1 : end + 1;
  }
  return CommitFields{.author_date = parts[0],
                      .author_name = parts[1],
                      .author_email = parts[2],
                      .committer_name = parts[3],
                      .committer_email = parts[4],
                      .subject = parts[5]};
}

std::vector<std::string> _parents_of(const path& work_tree, const std::string& full) {
  return _git_lines({"rev-parse", full + "^@"}, work_tree);
}

std::optional<std::string> infer_task_type(std::optional<std::string_view> subject,
                                           std::optional<std::string_view> branch) {
  // The subject pattern's leading \s is ASCII only; Unicode spaces go first.
  if (const auto word = _subject_prefix_word(core::trim_unicode_space_front(subject.value_or("")))) {
    if (auto type = task_type_of(*word)) return type;
  }
  if (const auto word = _branch_prefix_word(branch.value_or(""))) {
    if (auto type = task_type_of(*word)) return type;
  }
  return std::nullopt;
}

}  // namespace tamrik::synccore
