#include "cli/mcp/tools.hpp"
#include "synccore/synccore.hpp"

namespace tamrik::cli::mcp {

namespace {

std::string project_text(const Json& project_id) {
  if (project_id.is_null()) return "";
  return project_id.is_string() ? project_id.get<std::string>() : project_id.dump();
}

// The agent the caller named, else the harness this server runs under; a
// weak marker will do here, as the name only labels the summary.
std::string agent_name(const Json& arguments) {
  if (arguments.contains("agent")) return agents::normalize_agent_name(arguments["agent"].get<std::string>());
  const agents::Adapter* active = agents::detect_active_agent();
  if (active == nullptr) active = agents::weak_agent_hint();
  return active ? active->name() : "";
}

}  // namespace

Tool session_summary_tool() {
  return {
      .name = "session_summary",
      .description =
          "The tamrik session context for this repository: project, cached architecture elements, "
          "rules and specs, how fresh that cache is, and how many records wait for upload.",
      .input_schema = {{"type", "object"},
                       {"properties",
                        {{"agent",
                          {{"type", "string"},
                           {"description", "Your harness's name (e.g. claude-code, codex); detected when omitted."}}}}},
                       {"additionalProperties", false}},
      .call = [](const Json& arguments) -> ToolResult {
        const std::filesystem::path repo_root = services::current_checkout().home;
        // What a clone brought in .tamrik is no context of this user's.
        if (!services::setup_list::is_set_up(repo_root)) {
          return {"tamrik is not set up in " + repo_root.string() +
                      "; nothing here is tamrik context. The person can run `tamrik setup` there.",
                  true};
        }
        const Json project_id = services::session_context::resolve_session(repo_root).project_id;
        return {synccore::generate_session_summary(paths::platform_dir(repo_root), project_text(project_id),
                                                   agent_name(arguments)),
                false};
      }};
}

}  // namespace tamrik::cli::mcp
