#include "cli/setup_command.hpp"

#include "attest/attest.hpp"
#include "synccore/synccore.hpp"

#include <algorithm>
#include <charconv>

namespace tamrik::cli {

namespace {

using display::output::Console;
namespace installer = hooks::installer;
using std::filesystem::path;

// Codex runs hooks only once the user has trusted them, and only from the
// release that turned hooks on by default; older ones need a feature flag,
// which is the user's to set.
constexpr const char* kCodexHooksNote =
    "  Codex runs the new hooks once you have reviewed and trusted them; Codex before 0.124.0 also needs "
    "`[features] codex_hooks = true` in its config.toml.";

// "--agents claude-code,codex": known names, in their canonical spelling.
std::optional<std::vector<std::string>> chosen_agents(const SetupOptions& values) {
  if (!values.agents) return std::nullopt;
  const std::string& list = *values.agents;
  std::vector<std::string> chosen;
  size_t start = 0;
  while (start <= list.size()) {
    size_t stop = list.find(',', start);
    if (stop == std::string::npos) stop = list.size();
    const std::string name = agents::normalize_agent_name(list.substr(start, stop - start));
    start = stop + 1;
    if (name.empty()) continue;
    if (agents::get_adapter_by_name(name) == nullptr) {
      throw attest::UsageError("unknown agent '" + name + "' in --agents; known agents: " + agent_names());
    }
    if (std::find(chosen.begin(), chosen.end(), name) == chosen.end()) chosen.push_back(name);
  }
  return chosen;
}

long long project_id_of(const std::string& text) {
  long long id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || id <= 0) {
    throw attest::UsageError("a project id is a positive whole number, got '" + text + "'");
  }
  return id;
}

// A path as the user reads it: relative to the repository when inside it.
std::string as_user_reads(const std::string& where, const path& repo_root) {
  const path relative = path(where).lexically_relative(repo_root);
  return !relative.empty() && *relative.begin() != ".." ? relative.string() : where;
}

void print_steps(const installer::SetupReport& report, const path& repo_root, bool uninstalling,
                 const Console& console) {
  for (const installer::StepReport& step : report.steps) {
    const std::string where = as_user_reads(step.detail, repo_root);
    switch (step.outcome) {
      case installer::Outcome::changed:
        console.info("  " + step.name + ": " + (uninstalling ? "removed from " : "written to ") + where);
        break;
      case installer::Outcome::unchanged:
        console.info("  " + step.name + ": " +
                     (uninstalling ? "nothing to remove" : "already in place (" + where + ")"));
        break;
      case installer::Outcome::skipped:
        console.info("  " + step.name + ": skipped — " + step.detail);
        break;
      case installer::Outcome::failed:
        console.error(step.name + ": " + step.detail);
        break;
    }
  }
  for (const std::string& note : report.notes) console.info("  " + note);
}

int uninstall(const services::Checkout& checkout, const SetupOptions& values, const Console& console) {
  const path& repo_root = checkout.home;
  const installer::SetupReport report = installer::uninstall_repository(checkout, {.all = values.all});
  print_steps(report, repo_root, true, console);
  if (!report.ok()) {
    console.error("Some of tamrik's setup could not be removed; fix the problems above and run it again.");
    return 1;
  }
  console.success("Removed tamrik's setup from " + repo_root.string() +
                  " (the ledger and archived attestations in .tamrik are kept)");
  return 0;
}

int set_up(const services::Checkout& checkout, const SetupOptions& values, const Console& console) {
  const path& repo_root = checkout.home;
  const std::string notice =
      services::setup_list::committed_files_notice(services::setup_list::committed_tamrik_files(repo_root));
  if (!notice.empty()) console.warning(notice);
  const installer::SetupReport report = installer::setup_repository(
      checkout, {.agents = chosen_agents(values), .guidance = values.guidance, .shared_mcp_file = values.mcp_json});
  print_steps(report, repo_root, false, console);
  if (!report.ok()) {
    console.error("tamrik setup did not finish; fix the problems above and run `tamrik setup` again.");
    return 1;
  }
  console.success("tamrik is set up in " + repo_root.string());
  if (checkout.work_tree != repo_root) {
    console.info("  Every worktree of this repository records into the ledger there, " + repo_root.string() +
                 "/.tamrik.");
  }
  if (std::find(report.agents.begin(), report.agents.end(), "codex") != report.agents.end()) {
    console.info(kCodexHooksNote);
  }
  if (report.agents.empty()) {
    console.info(
        "  No agent harness found on this machine; commits are recorded by the post-commit hook. "
        "Hook one with `tamrik setup --agents claude-code`.");
  }
  return 0;
}

}  // namespace

std::string agent_names() {
  std::string names;
  for (const agents::Adapter* adapter : agents::iter_adapters()) {
    names += (names.empty() ? "" : ", ") + adapter->name();
  }
  return names;
}

int run_setup(const SetupOptions& values, const Console& console) {
  const services::Checkout checkout = services::current_checkout();
  return values.uninstall ? uninstall(checkout, values, console) : set_up(checkout, values, console);
}

int run_setup_project(const SetupOptions& values, const Console& console) {
  const services::Checkout checkout = services::current_checkout();
  if (values.uninstall) throw attest::UsageError("--uninstall does not go with `project`");
  const long long id = project_id_of(values.project);
  if (const int status = set_up(checkout, values, console); status != 0) return status;
  core::Json config = services::shared::load_local_config(checkout.home);
  config["project_id"] = id;
  services::shared::save_local_config(checkout.home, config);
  console.success("Linked to project " + std::to_string(id) + "; `tamrik sync` uploads its records there.");
  return 0;
}

}  // namespace tamrik::cli
