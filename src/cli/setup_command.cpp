#include "cli/setup_command.hpp"

#include "host/agents/registry.hpp"
#include "host/display/output.hpp"
#include "host/hooks/installer.hpp"
#include "host/services/checkout.hpp"
#include "host/services/setup_list.hpp"
#include "host/services/shared.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <memory>

namespace tamrik::cli {

namespace {

using display::output::console;
namespace installer = hooks::installer;
using std::filesystem::path;

constexpr const char* kSetupDescription = "Set tamrik up in this repository, so that every commit is recorded.";

constexpr const char* kSetupFooter = R"(Installs the git post-commit hook (`tamrik sync --record-commit`) and post-rewrite hook
(`tamrik sync --record-rewrite`, which carries attestations across amend and rebase), the agent hook rows of
the configured harnesses (PostToolUse and SessionStart rows, per user, in Claude Code's
settings.json and Codex's hooks.json), the agent tool server `tamrik mcp` (Claude Code: your own
~/.claude.json for this repository, or the shared .mcp.json with --mcp-json; Codex: config.toml),
the ignore entries that keep .tamrik out of commits (in .git/info/exclude, which is never
committed), and .tamrik/.platform/config.yaml with the time of setup. Running it again changes
nothing; existing hooks and settings are kept.

With husky the hooks go into .husky/; with lefthook, pre-commit or simple-git-hooks setup prints
the lines to add to their config. A hook the repository shares calls `tamrik` through PATH.

--guidance also writes tamrik's block into the agents' instruction files (CLAUDE.md, AGENTS.md,
GEMINI.md), usually tracked files, and has `tamrik sync` keep it up to date.

--uninstall keeps the per-user agent hook rows while other repositories are set up; add --all to
remove them anyway.

Agents default to the harnesses installed on this machine; choose them with --agents:
  tamrik setup --agents claude-code,codex)";

// Codex runs hooks only once the user has trusted them, and only from the
// release that turned hooks on by default; older ones need a feature flag,
// which is the user's to set.
constexpr const char* kCodexHooksNote =
    "  Codex runs the new hooks once you have reviewed and trusted them; Codex before 0.124.0 also needs "
    "`[features] codex_hooks = true` in its config.toml.";

struct SetupValues {
  std::string agents;
  CLI::Option* agents_option = nullptr;
  bool uninstall = false;
  bool all = false;
  bool guidance = false;
  bool mcp_json = false;
  std::string project;
};

std::string agent_list() {
  std::string names;
  for (const agents::Adapter* adapter : agents::iter_adapters()) {
    names += (names.empty() ? "" : ", ") + adapter->name();
  }
  return names;
}

// "--agents claude-code,codex": known names, in their canonical spelling.
std::optional<std::vector<std::string>> chosen_agents(const SetupValues& values) {
  if (values.agents_option->count() == 0) return std::nullopt;
  std::vector<std::string> chosen;
  size_t start = 0;
  while (start <= values.agents.size()) {
    size_t stop = values.agents.find(',', start);
    if (stop == std::string::npos) stop = values.agents.size();
    const std::string name = agents::normalize_agent_name(values.agents.substr(start, stop - start));
    start = stop + 1;
    if (name.empty()) continue;
    if (agents::get_adapter_by_name(name) == nullptr) {
      throw attest::UsageError("unknown agent '" + name + "' in --agents; known agents: " + agent_list());
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
std::string shown(const std::string& where, const path& repo_root) {
  const path relative = path(where).lexically_relative(repo_root);
  return !relative.empty() && *relative.begin() != ".." ? relative.string() : where;
}

void print_steps(const installer::SetupReport& report, const path& repo_root, bool uninstalling) {
  for (const installer::StepReport& step : report.steps) {
    const std::string where = shown(step.detail, repo_root);
    switch (step.outcome) {
      case installer::Outcome::changed:
        console().info("  " + step.name + ": " + (uninstalling ? "removed from " : "written to ") + where);
        break;
      case installer::Outcome::unchanged:
        console().info("  " + step.name + ": " + (uninstalling ? "nothing to remove" : "already in place (" + where + ")"));
        break;
      case installer::Outcome::skipped:
        console().info("  " + step.name + ": skipped — " + step.detail);
        break;
      case installer::Outcome::failed:
        console().error(step.name + ": " + step.detail);
        break;
    }
  }
  for (const std::string& note : report.notes) console().info("  " + note);
}

int uninstall(const services::Checkout& checkout, const SetupValues& values) {
  const path& repo_root = checkout.home;
  const installer::SetupReport report = installer::uninstall_repository(checkout, {.all = values.all});
  print_steps(report, repo_root, true);
  if (!report.ok()) {
    console().error("Some of tamrik's setup could not be removed; fix the problems above and run it again.");
    return 1;
  }
  console().success("Removed tamrik's setup from " + repo_root.string() +
                    " (the ledger and archived attestations in .tamrik are kept)");
  return 0;
}

int set_up(const services::Checkout& checkout, const SetupValues& values) {
  const path& repo_root = checkout.home;
  const std::string notice =
      services::setup_list::committed_files_notice(services::setup_list::committed_tamrik_files(repo_root));
  if (!notice.empty()) console().warning(notice);
  const installer::SetupReport report = installer::setup_repository(
      checkout,
      {.agents = chosen_agents(values), .guidance = values.guidance, .shared_mcp_file = values.mcp_json});
  print_steps(report, repo_root, false);
  if (!report.ok()) {
    console().error("tamrik setup did not finish; fix the problems above and run `tamrik setup` again.");
    return 1;
  }
  console().success("tamrik is set up in " + repo_root.string());
  if (checkout.work_tree != repo_root) {
    console().info("  Every worktree of this repository records into the ledger there, " + repo_root.string() +
                   "/.tamrik.");
  }
  if (std::find(report.agents.begin(), report.agents.end(), "codex") != report.agents.end()) {
    console().info(kCodexHooksNote);
  }
  if (report.agents.empty()) {
    console().info("  No agent harness found on this machine; commits are recorded by the post-commit hook. "
                   "Hook one with `tamrik setup --agents claude-code`.");
  }
  return 0;
}

int link_project(const services::Checkout& checkout, const SetupValues& values) {
  if (values.uninstall) throw attest::UsageError("--uninstall does not go with `project`");
  const long long id = project_id_of(values.project);
  if (const int status = set_up(checkout, values); status != 0) return status;
  core::Json config = services::shared::load_local_config(checkout.home);
  config["project_id"] = id;
  services::shared::save_local_config(checkout.home, config);
  console().success("Linked to project " + std::to_string(id) + "; `tamrik sync` uploads its records there.");
  return 0;
}

}  // namespace

void add_setup_command(CLI::App& parent, attest::SelectedCommand& selected) {
  CLI::App* setup = parent.add_subcommand("setup", kSetupDescription);
  setup->footer(kSetupFooter);
  setup->require_subcommand(0, 1);
  auto values = std::make_shared<SetupValues>();
  values->agents_option = setup->add_option(
      "--agents", values->agents, "Comma-separated agent harnesses to hook (" + agent_list() + ").");
  CLI::Option* uninstall_flag =
      setup->add_flag("--uninstall", values->uninstall, "Remove what setup added; the ledger is kept.")
          ->excludes(values->agents_option);
  setup->add_flag("--all", values->all, "With --uninstall: remove the per-user agent hook rows too, though other "
                                        "repositories are set up.")
      ->needs(uninstall_flag);
  setup->add_flag("--guidance", values->guidance,
                  "Also keep tamrik's block in the agents' instruction files (CLAUDE.md, AGENTS.md...).")
      ->excludes(uninstall_flag);
  setup->add_flag("--mcp-json", values->mcp_json,
                  "Register Claude Code's tool server in the repository's shared .mcp.json (for the whole team) "
                  "instead of your own ~/.claude.json.")
      ->excludes(uninstall_flag);

  CLI::App* project = setup->add_subcommand("project", "Set tamrik up and link this repository to an existing project.");
  project->add_option("id", values->project, "The project's id on the platform.")->required();

  setup->callback([setup, values, &selected] {
    if (!setup->get_subcommands().empty()) return;
    selected = {setup, [values] {
                  const services::Checkout checkout = services::current_checkout();
                  return values->uninstall ? uninstall(checkout, *values) : set_up(checkout, *values);
                }};
  });
  project->callback([project, values, &selected] {
    selected = {project, [values] { return link_project(services::current_checkout(), *values); }};
  });
}

}  // namespace tamrik::cli
