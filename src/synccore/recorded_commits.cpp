#include "synccore/recorded_commits.hpp"

#include "core/git_runner.hpp"
#include "core/text.hpp"
#include "core/time_text.hpp"
#include "host/hooks/git_hook.hpp"
#include "host/services/setup_list.hpp"
#include "synccore/catch_up.hpp"
#include "synccore/git.hpp"
#include "synccore/ledger.hpp"

#include <charconv>

namespace tamrik::synccore {

namespace {

// The tab-separated fields of one line of git's output.
std::vector<std::string> fields_of(std::string_view line, size_t count) {
  std::vector<std::string> fields;
  while (fields.size() + 1 < count) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) break;
    fields.emplace_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  fields.emplace_back(line);
  fields.resize(count);
  return fields;
}

std::optional<double> seconds_of(const std::string& text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return static_cast<double>(value);
}

}  // namespace

std::optional<std::vector<RangeCommit>> commits_in_range(const std::filesystem::path& work_tree, std::string_view range,
                                                         size_t limit) {
  const core::ProcessResult listed =
      core::run_git({"log", "--no-color", "--format=%H%x09%cI%x09%s", "--max-count=" + std::to_string(limit),
                     "--end-of-options", std::string(range), "--"},
                    work_tree);
  if (!listed.ok()) return std::nullopt;
  std::vector<RangeCommit> commits;
  const std::string text = listed.out_text();
  for (std::string_view line : core::lines_of(text)) {
    const std::vector<std::string> fields = fields_of(line, 3);
    if (_is_valid_commit_hash(fields[0])) commits.push_back({fields[0], fields[1], fields[2]});
  }
  return commits;
}

std::string why_not_recorded(const services::Checkout& checkout, const std::string& full) {
  if (!services::setup_list::is_set_up(checkout.home)) {
    return "tamrik is not set up in this repository, so its commits are not recorded. Run `tamrik setup`: "
           "commits made from then on are.";
  }
  const std::vector<std::string> fields =
      fields_of(_git({"show", "-s", "--format=%ct%x09%an%x09%ae", full}, checkout.work_tree), 3);
  const std::optional<double> made = seconds_of(fields[0]);
  const std::optional<double> set_up = _config_anchor(checkout.home);
  if (made && set_up && *made < *set_up) {
    return "it was made before tamrik was set up here (" + core::format_utc(static_cast<std::time_t>(*set_up)) +
           "), and commits from before setup are not recorded.";
  }
  if (!hooks::installer::git_hook_installed(checkout.work_tree, hooks::installer::GitHook::post_commit)) {
    return "this checkout has no post-commit hook, so its commits are not recorded. Run `tamrik setup` here.";
  }
  const std::string own_email = _git({"config", "user.email"}, checkout.work_tree);
  if (!fields[2].empty() && fields[2] != own_email) {
    return "it was made by " + fields[1] + " <" + fields[2] +
           ">, whose own clone records it: their `tamrik sync` takes the record to the platform.";
  }
  return "it was made in another clone (whose ledger holds its record), or by a tool that ran no git hooks. "
         "Commits of yours that no hook saw are recorded at the next agent session start.";
}

}  // namespace tamrik::synccore
