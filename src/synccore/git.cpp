#include "synccore/git.hpp"

#include "core/git_runner.hpp"
#include "synccore/ledger.hpp"

#include <algorithm>
#include <regex>

namespace tamrik::synccore {

namespace {

std::string trim_whitespace(std::string text) {
  const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  size_t end = text.size();
  while (end > 0 && is_space(text[end - 1])) --end;
  size_t start = 0;
  while (start < end && is_space(text[start])) ++start;
  return text.substr(start, end - start);
}

std::optional<std::string> task_type_of(const std::string& word) {
  std::string lower = word;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& [prefix, type] : _TASK_TYPE_PREFIXES) {
    if (prefix == lower) return std::string(type);
  }
  return std::nullopt;
}

// The first group of an anchored match of `re` at the start of `text`.
std::optional<std::string> prefix_word(const std::regex& re, std::string_view text) {
  std::match_results<std::string_view::const_iterator> match;
  if (!std::regex_search(text.begin(), text.end(), match, re, std::regex_constants::match_continuous)) {
    return std::nullopt;
  }
  return match[1].str();
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
  for (size_t start = 0; start < out.size();) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
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
  // Without --verify rev-parse answers several questions in one run, one
  // line each: the commit, its parents (none for a root commit), the commit
  // again, then the branch. When any fails the whole run fails and we ask
  // them apart.
  const std::string name(commit);
  const std::vector<std::string> lines =
      _git_lines({"rev-parse", name + "^{commit}", name + "^@", name + "^{commit}", "--abbrev-ref", "HEAD"}, work_tree);
  if (lines.size() >= 3 && std::all_of(lines.begin(), lines.end() - 1, _is_valid_commit_hash)) {
    CommitOnBranch found{.full = lines.front(), .branch = trim_whitespace(lines.back())};
    // Each name is resolved anew: with another process committing, HEAD
    // can move between them, and the parents would be a later commit's.
    const bool same_commit = lines[lines.size() - 2] == found.full;
    found.parents = same_commit ? std::vector<std::string>(lines.begin() + 1, lines.end() - 2)
                                : _parents_of(work_tree, found.full);
    if (!found.branch.empty()) return found;
  }
  std::optional<std::string> full = _resolve_full_sha(work_tree, commit);
  if (!full) return std::nullopt;
  std::vector<std::string> parents = _parents_of(work_tree, *full);
  return CommitOnBranch{.full = std::move(*full),
                        .branch = _git_rev_parse({"--abbrev-ref", "HEAD"}, work_tree),
                        .parents = std::move(parents)};
}

std::vector<std::string> _parents_of(const path& work_tree, const std::string& full) {
  return _git_lines({"rev-parse", full + "^@"}, work_tree);
}

std::optional<std::string> infer_task_type(std::optional<std::string_view> subject,
                                           std::optional<std::string_view> branch) {
  static const std::regex subject_re{std::string(_SUBJECT_PREFIX_RE)};
  static const std::regex branch_re{std::string(_BRANCH_PREFIX_RE)};
  if (const auto word = prefix_word(subject_re, subject.value_or(""))) {
    if (auto type = task_type_of(*word)) return type;
  }
  if (const auto word = prefix_word(branch_re, branch.value_or(""))) {
    if (auto type = task_type_of(*word)) return type;
  }
  return std::nullopt;
}

}  // namespace tamrik::synccore
