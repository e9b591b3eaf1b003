#include "host/hooks/installer.hpp"

#include "core/file_io.hpp"
#include "core/errors.hpp"
#include "core/json.hpp"
#include "core/time_text.hpp"
#include "host/commands/mcp.hpp"
#include "host/hooks/agent_guidance.hpp"
#include "host/hooks/agent_hooks.hpp"
#include "host/hooks/git_hook.hpp"
#include "host/hooks/scripts.hpp"
#include "host/paths.hpp"
#include "host/services/gitignore.hpp"
#include "host/services/setup_list.hpp"
#include "host/services/shared.hpp"
#include "host/utils/user_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>

namespace tamrik::hooks::installer {

namespace {

using core::Json;
namespace shared = services::shared;
namespace user_file = utils::user_file;
namespace setup_list = services::setup_list;

// Where each harness keeps its per-user files, and its program: either one
// present means the harness is installed here. A variable that relocates
// the directory wins over the home directory.
struct Harness {
  std::string_view agent;
  const char* relocating_variable;  // nullptr when there is none
  std::string_view in_home;
  std::string_view program;
};

constexpr std::array<Harness, 5> kHarnesses = {{
    {"claude-code", "CLAUDE_CONFIG_DIR", ".claude", "claude"},
    {"codex", "CODEX_HOME", ".codex", "codex"},
    {"gemini-cli", nullptr, ".gemini", "gemini"},
    {"cursor", nullptr, ".cursor", "cursor-agent"},
    {"windsurf", nullptr, ".codeium/windsurf", "windsurf"},
}};

std::string environment(const char* name) {
  const char* value = name != nullptr ? std::getenv(name) : nullptr;
  return value != nullptr ? value : "";
}

bool is_existing_directory(const path& dir) {
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec);
}

bool on_path(std::string_view program) {
  const std::string search = environment("PATH");
  size_t start = 0;
  while (start <= search.size()) {
    size_t stop = search.find(':', start);
    if (stop == std::string::npos) stop = search.size();
    const std::string dir = search.substr(start, stop - start);
    if (!dir.empty() && ::access((path(dir) / program).c_str(), X_OK) == 0) return true;
    start = stop + 1;
  }
  return false;
}

bool harness_installed(const Harness& harness) {
  const std::string relocated = environment(harness.relocating_variable);
  const std::string home = environment("HOME");
  if (!relocated.empty() && is_existing_directory(relocated)) return true;
  if (relocated.empty() && !home.empty() && is_existing_directory(path(home) / harness.in_home)) return true;
  return on_path(harness.program);
}

StepReport run_step(std::string name, const std::function<StepReport()>& step) {
  try {
    StepReport report = step();
    report.name = std::move(name);
    return report;
  } catch (const std::exception& e) {
    return {std::move(name), Outcome::failed, e.what()};
  }
}

StepReport changed_or_not(bool changed, const path& where) {
  return {"", changed ? Outcome::changed : Outcome::unchanged, where.string()};
}

std::vector<std::string> configured_agents(const Json& config) {
  std::vector<std::string> agents;
  const auto it = config.find("agents");
  if (it == config.end() || !it->is_array()) return agents;
  for (const Json& agent : *it) {
    if (agent.is_string()) agents.push_back(agent.get<std::string>());
  }
  return agents;
}

// Stamps `installed_at` once and records the agents; returns them.
StepReport write_configuration(const path& repo_root, const SetupOptions& options,
                               std::vector<std::string>& agents) {
  // A configuration the repository's history holds was written by whoever
  // committed it, not by a setup on this machine: start afresh.
  const bool committed = setup_list::history_holds(repo_root, ".tamrik/.platform/config.yaml");
  const Json before = committed ? Json::object() : shared::load_local_config(repo_root);
  Json config = before;
  if (!config.contains("installed_at")) config["installed_at"] = core::utc_now_text();
  if (options.agents) {
    agents = *options.agents;
  } else if (config.contains("agents")) {
    agents = configured_agents(config);
  } else {
    agents = installed_harnesses();
  }
  config["agents"] = agents;
  const bool changed = committed || config != before || !core::path_exists(paths::local_config_file(repo_root));
  if (changed) shared::save_local_config(repo_root, config);
  return changed_or_not(changed, paths::local_config_file(repo_root));
}

StepReport write_example(const path& repo_root) {
  const path file = paths::example_attestation(repo_root);
  const std::string_view text = hooks::scripts::example_attestation();
  const bool changed = user_file::read_if_exists(file) != std::string(text);
  if (changed) user_file::replace(file, text, 0644);
  return changed_or_not(changed, file);
}

StepReport remove_configuration(const path& repo_root) {
  const path file = paths::local_config_file(repo_root);
  // Setup writes the current layout only; an older one is not ours to edit.
  if (!user_file::read_if_exists(file)) return changed_or_not(false, file);
  Json config = shared::load_local_config(repo_root);
  const bool changed = config.erase("installed_at") + config.erase("agents") > 0;
  if (changed && config.empty()) {
    user_file::remove(file);
  } else if (changed) {
    shared::save_local_config(repo_root, config);
  }
  // Directories setup created go too, when nothing else lives in them.
  for (const path& dir : {paths::platform_dir(repo_root), paths::tamrik_dir(repo_root)}) core::remove_empty_dir(dir);
  return changed_or_not(changed, file);
}

// Installs (or removes) our rows in the agent's hook file.
StepReport agent_rows(const std::string& agent, bool install, const path& program) {
  const std::optional<AgentHooks> hooks = agent_hooks(agent);
  if (!hooks) return {"", Outcome::skipped, "no hook rows for this harness yet; the post-commit hook records its commits"};
  if (!hooks->file) return {"", Outcome::skipped, "neither HOME nor the harness's own directory variable is set"};
  const bool changed =
      install ? install_hook_rows(*hooks->file, hooks->rows, program) : uninstall_hook_rows(*hooks->file, hooks->rows);
  return changed_or_not(changed, *hooks->file);
}

// Registers `tamrik mcp` where the agent looks for tool servers.
StepReport tool_server(const path& repo_root, const std::string& agent, const SetupOptions& options) {
  const std::optional<commands::mcp::Registration> registration =
      commands::mcp::register_tool_server(repo_root, agent, options.shared_mcp_file, options.program);
  if (!registration) return {"", Outcome::skipped, "no known place to register the tool server for this harness"};
  StepReport report = changed_or_not(registration->changed, registration->file);
  if (!registration->note.empty()) report.detail += "; " + registration->note;
  return report;
}

}  // namespace

bool SetupReport::ok() const {
  return std::none_of(steps.begin(), steps.end(), [](const StepReport& s) { return s.outcome == Outcome::failed; });
}

path current_program() {
  std::error_code ec;
  const path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? path("tamrik") : self;
}

std::vector<std::string> installed_harnesses() {
  std::vector<std::string> agents;
  for (const Harness& harness : kHarnesses) {
    if (harness_installed(harness)) agents.emplace_back(harness.agent);
  }
  return agents;
}

std::vector<StepReport> _install_session_start_hook(const path& /*repo_root*/,
                                                    const std::optional<std::vector<std::string>>& agents,
                                                    const path& program) {
  std::vector<StepReport> reports;
  for (const std::string& agent : agents ? *agents : installed_harnesses()) {
    reports.push_back(run_step(agent + " hooks", [&] { return agent_rows(agent, true, program); }));
  }
  return reports;
}

std::optional<bool> agent_hooks_installed(const std::string& agent) {
  const std::optional<AgentHooks> hooks = agent_hooks(agent);
  if (!hooks) return std::nullopt;
  return hooks->file && hook_rows_installed(*hooks->file, hooks->rows);
}

SetupReport setup_repository(const services::Checkout& checkout, const SetupOptions& options) {
  const path& repo_root = checkout.home;
  SetupReport report;
  report.steps.push_back(
      run_step("configuration", [&] { return write_configuration(repo_root, options, report.agents); }));
  report.steps.push_back(
      run_step("ignore entries", [&] { return changed_or_not(shared::ensure_gitignore(repo_root), repo_root / ".gitignore"); }));
  report.steps.push_back(run_step("example attestation", [&] { return write_example(repo_root); }));
  for (const GitHook hook : kGitHooks) {
    report.steps.push_back(run_step(std::string(git_hook_name(hook)) + " hook", [&] {
      return changed_or_not(install_git_hook(checkout.work_tree, hook, options.program),
                            git_hook_path(checkout.work_tree, hook));
    }));
  }
  report.steps.push_back(run_step("repository list", [&] {
    return changed_or_not(setup_list::add(repo_root), setup_list::list_file().value_or(path()));
  }));
  for (StepReport& step : _install_session_start_hook(repo_root, report.agents, options.program)) {
    report.steps.push_back(std::move(step));
  }
  for (const std::string& agent : report.agents) {
    report.steps.push_back(run_step(agent + " tool server", [&] { return tool_server(repo_root, agent, options); }));
  }
  return report;
}

SetupReport uninstall_repository(const services::Checkout& checkout) {
  const path& repo_root = checkout.home;
  SetupReport report;
  for (const GitHook hook : kGitHooks) {
    report.steps.push_back(run_step(std::string(git_hook_name(hook)) + " hook", [&] {
      return changed_or_not(uninstall_git_hook(checkout.work_tree, hook), git_hook_path(checkout.work_tree, hook));
    }));
  }
  for (const std::string_view agent : agents_with_hook_rows()) {
    report.steps.push_back(
        run_step(std::string(agent) + " hooks", [&] { return agent_rows(std::string(agent), false, path()); }));
  }
  report.steps.push_back(run_step("claude-code tool server", [&] {
    std::string where;
    for (const path& file : commands::mcp::remove_claude_code_registration(repo_root)) {
      where += (where.empty() ? "" : ", ") + file.string();
    }
    return StepReport{"", where.empty() ? Outcome::unchanged : Outcome::changed, where};
  }));
  report.steps.push_back(run_step("codex tool server", [&] {
    return changed_or_not(commands::mcp::remove_codex_registration(), commands::mcp::codex_config_file().value_or(path()));
  }));
  report.steps.push_back(run_step("agent guidance", [&] {
    // Every file it changed is named: CLAUDE.md, AGENTS.md and GEMINI.md may all hold the block.
    std::string where;
    for (const path& file : agent_guidance::remove_guidance(repo_root)) {
      where += (where.empty() ? "" : ", ") + file.string();
    }
    return StepReport{"", where.empty() ? Outcome::unchanged : Outcome::changed, where};
  }));
  report.steps.push_back(run_step("ignore entries", [&] {
    return changed_or_not(shared::remove_gitignore_entries(repo_root), repo_root / ".gitignore");
  }));
  report.steps.push_back(run_step("example attestation", [&] {
    const path file = paths::example_attestation(repo_root);
    const bool existed = user_file::read_if_exists(file).has_value();
    user_file::remove(file);
    return changed_or_not(existed, file);
  }));
  report.steps.push_back(run_step("configuration", [&] { return remove_configuration(repo_root); }));
  report.steps.push_back(run_step("repository list", [&] {
    return changed_or_not(setup_list::remove(repo_root), setup_list::list_file().value_or(path()));
  }));
  return report;
}

}  // namespace tamrik::hooks::installer
