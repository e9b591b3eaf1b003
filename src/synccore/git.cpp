#include "synccore/git.hpp"

#include "core/git_runner.hpp"
#include "synccore/ledger.hpp"

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

std::string _git_rev_parse(const std::vector<std::string>& args, const std::optional<path>& cwd) {
  std::vector<std::string> full{"rev-parse"};
  full.insert(full.end(), args.begin(), args.end());
  std::string out = _git(full, cwd);
  return out.empty() ? "unknown" : out;
}

std::optional<std::string> _resolve_full_sha(const path& repo_root, std::string_view commit) {
  std::string out = _git_rev_parse({"--verify", std::string(commit) + "^{commit}"}, repo_root);
  if (!_is_valid_commit_hash(out)) return std::nullopt;
  return out;
}

std::optional<CommitOnBranch> _resolve_full_sha_on_branch(const path& repo_root, std::string_view commit) {
  // Without --verify rev-parse answers several questions in one run, one
  // line each; when either fails the whole run fails and we ask them apart.
  const std::string out = _git({"rev-parse", std::string(commit) + "^{commit}", "--abbrev-ref", "HEAD"}, repo_root);
  const size_t newline = out.find('\n');
  if (newline != std::string::npos) {
    CommitOnBranch found{.full = out.substr(0, newline), .branch = trim_whitespace(out.substr(newline + 1))};
    if (_is_valid_commit_hash(found.full) && !found.branch.empty() && found.branch.find('\n') == std::string::npos) {
      return found;
    }
  }
  std::optional<std::string> full = _resolve_full_sha(repo_root, commit);
  if (!full) return std::nullopt;
  return CommitOnBranch{.full = std::move(*full), .branch = _git_rev_parse({"--abbrev-ref", "HEAD"}, repo_root)};
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
