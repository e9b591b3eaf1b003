#include "attest/attest.hpp"
#include "cli/mcp/tools.hpp"
#include "synccore/synccore.hpp"

namespace tamrik::cli::mcp {

namespace {

Json text_property(const std::string& description) { return {{"type", "string"}, {"description", description}}; }

Json object_property(const std::string& description) { return {{"type", "object"}, {"description", description}}; }

Json task_types() {
  Json names = Json::array();
  for (std::string_view name : services::shared::VALID_TASK_TYPES) names.push_back(name);
  return names;
}

Json schema() {
  Json task_type = text_property("What kind of change this is.");
  task_type["enum"] = task_types();
  return {
      {"type", "object"},
      {"properties",
       {{"staged_diff_hash", text_property("SHA-256 (hex) of `git diff --staged`, computed just before calling.")},
        {"model", text_property("Your model id, e.g. claude-opus-4-6.")},
        {"summary", text_property("One-line impact summary of the change.")},
        {"agent", text_property("Your harness, e.g. claude-code. Filled in after the commit when omitted.")},
        {"provider", text_property("Model provider, e.g. anthropic. Filled in after the commit when omitted.")},
        {"agent_id", text_property("Optional agent identifier.")},
        {"rules", object_property(R"(Rules you checked: {"checked": true, "applicable": ["rule-id", ...]}.)")},
        {"arch_changes",
         object_property(R"(Architecture changes: {"architecture": {"elements": [{"name": "...", "change": )"
                         R"("added|modified|removed", "description": "...", "fact_changes": {"add": [], )"
                         R"("update": [], "remove": []}}]}}.)")},
        {"provenance",
         object_property(R"(Where the request came from: {"type": "spec|ticket|bug-fix|ad-hoc", "ref": "..."}.)")},
        {"task_type", task_type},
        {"timestamp", text_property("ISO 8601 time; now when omitted.")},
        {"no_verify", {{"type", "boolean"}, {"description", "Skip field validation (the hash check still runs)."}}}}},
      {"required", {"staged_diff_hash", "model", "summary"}},
      {"additionalProperties", false}};
}

std::optional<std::string> text(const Json& arguments, const char* name) {
  if (!arguments.contains(name)) return std::nullopt;
  return arguments[name].get<std::string>();
}

// The command takes its structured fields as JSON text.
std::optional<std::string> json_text(const Json& arguments, const char* name) {
  if (!arguments.contains(name)) return std::nullopt;
  return arguments[name].dump();
}

attest::AttestOptions options_of(const Json& arguments) {
  return {.staged_diff_hash = text(arguments, "staged_diff_hash"),
          .agent = text(arguments, "agent"),
          .provider = text(arguments, "provider"),
          .model = text(arguments, "model"),
          .summary = text(arguments, "summary"),
          .agent_id = text(arguments, "agent_id"),
          .rules = json_text(arguments, "rules"),
          .arch_changes = json_text(arguments, "arch_changes"),
          .provenance = json_text(arguments, "provenance"),
          .task_type = text(arguments, "task_type"),
          .timestamp = text(arguments, "timestamp"),
          .no_verify = arguments.value("no_verify", false)};
}

}  // namespace

Tool prepare_attestation_tool() {
  return {.name = "prepare_attestation",
          .description =
              "Write the attestation for the change you are about to commit "
              "(.tamrik/.commit-attestation.yaml); the commit hooks file it with the commit. Stage "
              "everything first and pass the SHA-256 of `git diff --staged`: a mismatch is refused. Your "
              "identity, session and telemetry are added after the commit; do not pass them.",
          .input_schema = schema(),
          .call = [](const Json& arguments) -> ToolResult {
            const attest::AttestOptions options = options_of(arguments);
            const display::output::BufferedConsole console;
            const int status = attest::run_attest(options, console.console());
            return {console.text(), status != 0};
          }};
}

}  // namespace tamrik::cli::mcp
