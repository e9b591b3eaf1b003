#include "cli/hook_command.hpp"

#include "attest/hook.hpp"
#include "core/json.hpp"
#include "host/commands/hook_output.hpp"
#include "host/display/output.hpp"
#include "host/paths.hpp"
#include "host/services/hook_payload.hpp"
#include "host/services/session_context.hpp"
#include "host/services/shared.hpp"
#include "synccore/catch_up.hpp"
#include "synccore/ledger.hpp"
#include "synccore/rules_cache.hpp"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>

namespace tamrik::cli {

namespace {

using core::Json;
using std::filesystem::path;

struct HookValues {
  std::string agent = "claude-code";
  int limit = synccore::kCatchUpLimit;
};

// The payload's `cwd` when the harness sent one, else ours.
path start_directory(const std::optional<Json>& payload) {
  if (payload && payload->is_object()) {
    const std::string cwd = core::get_text(*payload, "cwd");
    if (!cwd.empty()) return cwd;
  }
  return std::filesystem::current_path();
}

std::string display_text(const Json& project_id) {
  if (project_id.is_null()) return "";
  return project_id.is_string() ? project_id.get<std::string>() : project_id.dump();
}

// Records the commits no hook saw, then hands the agent the session summary
// in its harness's own form (plain text for a harness without one).
int session_start(const HookValues& values) {
  synccore::limit_lock_waits(synccore::kHookLockBudget);
  try {
    const std::optional<services::Checkout> checkout =
        attest::_set_up_checkout_for(start_directory(services::shared::read_hook_payload()));
    if (!checkout) return 0;
    synccore::catch_up_commits(*checkout, values.limit);
    const Json project_id = services::session_context::resolve_session(checkout->home).project_id;
    const std::string summary =
        synccore::generate_session_summary(paths::platform_dir(checkout->home), display_text(project_id), values.agent);
    const std::optional<Json> output = commands::render_hook_context(values.agent, "SessionStart", summary);
    display::output::console().print(output ? core::to_json_compact(*output) : summary);
  } catch (...) {
    // A session must start whatever happens here.
  }
  return 0;
}

}  // namespace

void add_hook_command(CLI::App& parent, attest::SelectedCommand& selected) {
  CLI::App* hook = parent.add_subcommand("hook", "Entries for agent harness hooks (they always exit 0).");
  hook->require_subcommand(1);

  CLI::App* start = hook->add_subcommand(
      "session-start", "Record the commits no hook saw, then print the session summary for the agent.");
  auto start_values = std::make_shared<HookValues>();
  start->add_option("--agent", start_values->agent, "The harness this row was installed for.")->capture_default_str();
  start->add_option("--limit", start_values->limit, "Most commits the catch-up records.")->capture_default_str()
      ->check(CLI::Range(1, 10'000));
  start->callback([start, start_values, &selected] {
    selected = {start, [start_values] { return session_start(*start_values); }};
  });

  CLI::App* post_tool =
      hook->add_subcommand("post-tool", "The same as `tamrik attest add --from-hook`: record a commit the agent made.");
  auto post_values = std::make_shared<HookValues>();
  post_tool->add_option("--agent", post_values->agent, "The harness this row was installed for.")->capture_default_str();
  post_tool->callback([post_tool, post_values, &selected] {
    selected = {post_tool, [post_values] {
                  attest::_add_from_hook(post_values->agent);
                  return 0;
                }};
  });
}

}  // namespace tamrik::cli
