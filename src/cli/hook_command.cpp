#include "cli/hook_command.hpp"

#include "attest/attest.hpp"
#include "synccore/synccore.hpp"

#include <filesystem>

namespace tamrik::cli {

namespace {

using core::Json;
using std::filesystem::path;

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

}  // namespace

int run_session_start(const SessionStartOptions& values, const display::output::Console& console) {
  synccore::limit_lock_waits(synccore::kHookLockBudget);
  // A session must start whatever happens here.
  core::best_effort("Session start summary failed", [&] {
    const std::optional<services::Checkout> checkout =
        attest::_set_up_checkout_for(start_directory(services::shared::read_hook_payload()));
    if (!checkout) return;
    synccore::catch_up_commits(*checkout, values.limit);
    const Json project_id = services::session_context::resolve_session(checkout->home).project_id;
    const std::string summary =
        synccore::generate_session_summary(paths::platform_dir(checkout->home), display_text(project_id), values.agent);
    const std::optional<Json> output = commands::render_hook_context(values.agent, "SessionStart", summary);
    console.print(output ? core::to_json_compact(*output) : summary);
  });
  return 0;
}

int run_post_tool(const std::string& agent) {
  attest::_add_from_hook(agent);
  return 0;
}

}  // namespace tamrik::cli
