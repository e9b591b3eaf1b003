#include "host/hooks/installer.hpp"

#include "core/file_io.hpp"
#include "core/errors.hpp"
#include "core/json.hpp"
#include "core/time_text.hpp"
#include "host/commands/mcp.hpp"
#include "host/hooks/agent_guidance.hpp"
#include "host/hooks/agent_hooks.hpp"
#include "host/hooks/git_hook.hpp"
#include "host/hooks/hook_place.hpp"
#include "host/hooks/scripts.hpp"
#include "host/paths.hpp"
#include "host/services/gitignore.hpp"
#include "host/services/local_config.hpp"
#include "host/services/setup_list.hpp"
#include "host/services/shared.hpp"
#include "host/utils/user_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <span>

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

// Stamps `installed_at` once and records the agents; returns them.
StepReport write_configuration(const path& repo_root, const SetupOptions& options, std::vector<std::string>& agents) {
  // A configuration the repository's history holds was written by whoever
  // committed it, not by a setup on this machine: start afresh.
  const bool committed = setup_list::history_holds(repo_root, ".tamrik/.platform/config.yaml");
  const Json before = committed ? Json::object() : shared::load_local_config(repo_root);
  Json config = before;
  if (!config.contains("installed_at")) config["installed_at"] = core::utc_now_text();
  const services::LocalConfig configured = services::local_config_of(before);
  if (options.agents) {
    agents = *options.agents;
  } else if (configured.names_agents) {
    agents = configured.agents;
  } else {
    agents = installed_harnesses();
  }
  config["agents"] = agents;
  if (options.guidance) config[std::string(agent_guidance::GUIDANCE_SWITCH)] = true;
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
  const bool changed = config.erase("installed_at") + config.erase("agents") +
                           config.erase(std::string(agent_guidance::GUIDANCE_SWITCH)) >
                       0;
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
  if (!hooks)
    return {"", Outcome::skipped, "no hook rows for this harness yet; the post-commit hook records its commits"};
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

void add_note(std::vector<std::string>& notes, std::string note) {
  if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(std::move(note));
}

// Puts the call where the repository's hook manager expects it; for a
// manager whose own config the person edits, says what to add. A hook the
// repository shares runs the tamrik on PATH, so the note says when there
// is none here.
StepReport git_hook_step(const path& work_tree, GitHook hook, const path& program, std::vector<std::string>& notes) {
  const HookPlace place = hook_place(work_tree, hook);
  if (place.snippet) {
    if (snippet_in_place(place, hook)) return changed_or_not(false, place.file);
    return {"", Outcome::skipped, snippet_instructions(place)};
  }
  bool changed = install_hook_at(place, hook, program);
  // An earlier setup wrote into husky's generated stub, which husky rewrites.
  if (place.file != place.git_runs) changed = remove_hook_block(place.git_runs, hook) || changed;
  if (place.shared) {
    add_note(notes,
             "the repository's hooks are shared with everyone who clones it, so they run `tamrik` from PATH; "
             "commit the change to share it");
    if (!on_path("tamrik")) {
      add_note(notes,
               "tamrik is not on PATH here, so the shared hooks cannot run it: put it on PATH (the next agent "
               "session start records the commits they miss)");
    }
  }
  return changed_or_not(changed, place.file);
}

// tamrik's ignore entries in info/exclude, and a block an earlier setup
// left in the .gitignore moved there (said in a note).
StepReport ignore_entries(const path& repo_root, std::vector<std::string>& notes) {
  const path exclude = shared::exclude_file(repo_root);
  const std::optional<std::string> before = user_file::read_if_exists(exclude);
  const shared::Migration migration = shared::migrate_gitignore_block(repo_root);
  if (const std::string notice = shared::migration_notice(migration); !notice.empty()) notes.push_back(notice);
  shared::ensure_gitignore(repo_root);
  const bool changed = migration == shared::Migration::moved || user_file::read_if_exists(exclude) != before;
  return changed_or_not(changed, exclude);
}

// Guidance blocks go into tracked files, so only on request: the switch in
// the configuration, which sync honours from then on.
StepReport guidance_step(const path& repo_root, const std::vector<std::string>& agents) {
  const std::vector<path> written = agent_guidance::write_guidance(repo_root, agents, true);
  std::vector<path> files = written;
  if (written.empty()) {
    for (const std::string& agent : agents) {
      const std::optional<path> file = agent_guidance::guidance_file(agent);
      if (file && std::find(files.begin(), files.end(), *file) == files.end()) files.push_back(*file);
    }
  }
  std::string where;
  for (const path& file : files) where += (where.empty() ? "" : ", ") + file.string();
  return {"", written.empty() ? Outcome::unchanged : Outcome::changed, where};
}

std::string repositories(size_t count) {
  return std::to_string(count) + (count == 1 ? " other repository is" : " other repositories are");
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
  report.steps.push_back(run_step("ignore entries", [&] { return ignore_entries(repo_root, report.notes); }));
  report.steps.push_back(run_step("example attestation", [&] { return write_example(repo_root); }));
  for (const GitHook hook : kGitHooks) {
    report.steps.push_back(run_step(std::string(git_hook_name(hook)) + " hook", [&] {
      return git_hook_step(checkout.work_tree, hook, options.program, report.notes);
    }));
  }
  if (options.guidance) {
    report.steps.push_back(run_step("agent guidance", [&] { return guidance_step(repo_root, report.agents); }));
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

SetupReport uninstall_repository(const services::Checkout& checkout, const UninstallOptions& options) {
  const path& repo_root = checkout.home;
  SetupReport report;
  // The agent rows and Codex's tool server are per user: they serve every
  // set-up repository, so they go with the last one.
  const size_t others = setup_list::others_set_up(repo_root).size();
  const bool user_level = options.all || others == 0;
  if (!user_level) {
    report.notes.push_back("agent hook rows and Codex's tool server kept: " + repositories(others) +
                           " set up (`tamrik setup --uninstall --all` removes them as well)");
  } else if (others > 0) {
    report.notes.push_back("agent hook rows and Codex's tool server removed though " + repositories(others) +
                           " set up: their agent hooks stay off until `tamrik setup` or `tamrik sync` runs there");
  }
  for (const GitHook hook : kGitHooks) {
    report.steps.push_back(run_step(std::string(git_hook_name(hook)) + " hook", [&] {
      return changed_or_not(uninstall_git_hook(checkout.work_tree, hook), hook_place(checkout.work_tree, hook).file);
    }));
  }
  for (const std::string_view agent : user_level ? agents_with_hook_rows() : std::span<const std::string_view>()) {
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
  if (user_level) {
    report.steps.push_back(run_step("codex tool server", [&] {
      const commands::mcp::Removal removal = commands::mcp::remove_codex_registration();
      if (!removal.kept.empty()) return StepReport{"", Outcome::skipped, removal.kept};
      return changed_or_not(removal.changed, commands::mcp::codex_config_file().value_or(path()));
    }));
  }
  report.steps.push_back(run_step("agent guidance", [&] {
    // Every file it changed is named: CLAUDE.md, AGENTS.md and GEMINI.md may all hold the block.
    std::string where;
    for (const path& file : agent_guidance::remove_guidance(repo_root)) {
      where += (where.empty() ? "" : ", ") + file.string();
    }
    return StepReport{"", where.empty() ? Outcome::unchanged : Outcome::changed, where};
  }));
  report.steps.push_back(run_step("example attestation", [&] {
    const path file = paths::example_attestation(repo_root);
    const bool existed = user_file::read_if_exists(file).has_value();
    user_file::remove(file);
    return changed_or_not(existed, file);
  }));
  report.steps.push_back(run_step("configuration", [&] { return remove_configuration(repo_root); }));
  // After the configuration, so that .tamrik stays ignored exactly when it stays.
  report.steps.push_back(run_step("ignore entries", [&] {
    return changed_or_not(shared::remove_gitignore_entries(repo_root), shared::exclude_file(repo_root));
  }));
  report.steps.push_back(run_step("repository list", [&] {
    return changed_or_not(setup_list::remove(repo_root), setup_list::list_file().value_or(path()));
  }));
  return report;
}

}  // namespace tamrik::hooks::installer
