#include "attest/command.hpp"

#include "attest/add.hpp"
#include "attest/group.hpp"
#include "host/services/attestation_fields.hpp"

#include <CLI/CLI.hpp>

#include <memory>

namespace tamrik::attest {

namespace {

constexpr const char* kAttestDescription = "Create .tamrik/.commit-attestation.yaml from structured flags.";

constexpr const char* kAttestFooter = R"(Example:

  tamrik attest --example

  tamrik attest \
    --staged-diff-hash $(git diff --staged | shasum -a 256 | cut -d' ' -f1) \
    --model claude-opus-4-6 \
    --summary "Rate-limit the public API per API key" \
    --rules '{"checked": true, "applicable": ["public-api-errors-use-problem-json"]}' \
    --arch-changes '{"architecture": {"elements": [{"name": "RateLimiter", "change": "added", "description": "Token-bucket limiter in front of the public API", "fact_changes": {"add": ["Public API requests are limited to 100 per minute per API key"], "update": [], "remove": []}}]}}'

Developer identity, agent session id, and telemetry are populated automatically by tamrik post-commit. Don't pass them here.)";

constexpr const char* kAddDescription = "Record a commit an agent session made before tamrik was set up.";

constexpr const char* kAddFooter = R"(One call per commit. The agent, model and token counts come from the session's own transcript, the subject and date from git. The record is uploaded by the next `tamrik sync`. A commit that already has a record is left alone.

Example: tamrik attest add --commit a81f2c0 --session 3f0c... --task-type bug-fix

With only --commit and a pending .tamrik/.commit-attestation.yaml, the attestation is attached to a commit already recorded without one (the hook's nudge): the commit's log entry is upgraded in place and uploaded again.

With --from-hook (Claude Code's PostToolUse row, user-level) it reads the tool payload from stdin, ignores anything but a `git commit`, records HEAD for the payload's session, uploads best-effort, and always exits 0.)";

// A text option whose presence matters: an empty value counts as given.
class TextOption {
 public:
  TextOption(CLI::App& app, const std::string& name, const std::string& help)
      : option_(app.add_option(name, value_, help)) {}
  std::optional<std::string> get() const { return option_->count() > 0 ? std::optional(value_) : std::nullopt; }
  CLI::Option* option() const { return option_; }

 private:
  std::string value_;
  CLI::Option* option_;
};

CLI::Option* add_flag(CLI::App& app, const std::string& name, const std::string& help) {
  return app.add_flag(name, help);
}

CLI::IsMember task_types() {
  const auto& names = services::shared::VALID_TASK_TYPES;
  return CLI::IsMember(std::vector<std::string>(names.begin(), names.end()));
}

struct GroupFlags {
  explicit GroupFlags(CLI::App& app)
      : example(add_flag(app, "--example", "Print the example attestation template and exit.")),
        staged_diff_hash(app, "--staged-diff-hash", "SHA-256 of staged diff."),
        agent(app, "--agent",
              "Agent name (e.g. claude-code, cursor, aider). Optional — sync fills it from the active adapter if "
              "omitted."),
        provider(app, "--provider",
                 "Model provider (e.g. anthropic, openai). Optional — sync fills it from the active adapter if "
                 "omitted."),
        model(app, "--model", "Model ID (e.g. claude-opus-4-6)."),
        summary(app, "--summary", "One-line impact summary."),
        agent_id(app, "--agent-id", "Optional agent identifier."),
        rules(app, "--rules", R"(JSON string: {"checked": true, "applicable": [...]}.)"),
        arch_changes(app, "--arch-changes",
                     R"(JSON string with architecture change primitives. Elements use structured format: )"
                     R"({"architecture": {"elements": [{"name": "...", "change": "added|modified|removed", )"
                     R"("description": "...", "fact_changes": {"add": [], "update": [], "remove": []}}], ...}})"),
        provenance(app, "--provenance",
                   R"(JSON string: {"type": "spec|ticket|bug-fix|ad-hoc", "ref": "..."}. Where the request came from.)"),
        task_type(app, "--task-type", "What kind of change this is, as opposed to where the request came from."),
        timestamp(app, "--timestamp", "ISO 8601 timestamp. Auto-generated if omitted."),
        no_verify(add_flag(app, "--no-verify", "Skip field validation (hash check still runs).")) {
    task_type.option()->check(task_types());
  }

  AttestOptions options() const {
    return {.show_example = example->count() > 0,
            .staged_diff_hash = staged_diff_hash.get(),
            .agent = agent.get(),
            .provider = provider.get(),
            .model = model.get(),
            .summary = summary.get(),
            .agent_id = agent_id.get(),
            .rules = rules.get(),
            .arch_changes = arch_changes.get(),
            .provenance = provenance.get(),
            .task_type = task_type.get(),
            .timestamp = timestamp.get(),
            .no_verify = no_verify->count() > 0};
  }

  CLI::Option* example;
  TextOption staged_diff_hash, agent, provider, model, summary, agent_id, rules, arch_changes, provenance, task_type,
      timestamp;
  CLI::Option* no_verify;
};

struct AddFlags {
  explicit AddFlags(CLI::App& app)
      : commit(app, "--commit", "Commit sha (short or full) the session made."),
        session(app, "--session", "The agent session id (transcript id) that made it."),
        task_type(app, "--task-type", "What kind of change the commit is."),
        from_hook(add_flag(
            app, "--from-hook", "Hook invocation: read the PostToolUse payload from stdin, record HEAD, always exit 0.")),
        agent(app, "--agent", "With --from-hook only: the harness this row was installed for.") {
    task_type.option()->check(task_types());
    // Older hook rows pass it; accepted so they keep working.
    add_flag(app, "--user", "Installed at user level (accepted, no effect).")->group("");
  }

  AddOptions options() const {
    return {.commit = commit.get(),
            .session_id = session.get(),
            .task_type = task_type.get(),
            .from_hook = from_hook->count() > 0,
            .agent = agent.get()};
  }

  TextOption commit, session, task_type;
  CLI::Option* from_hook;
  TextOption agent;
};

}  // namespace

void add_attest_command(CLI::App& parent, SelectedCommand& selected) {
  CLI::App* attest = parent.add_subcommand("attest", kAttestDescription);
  attest->footer(kAttestFooter);
  attest->require_subcommand(0, 1);
  // A repeated option takes its last value, as in most command lines.
  attest->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  CLI::App* add = attest->add_subcommand("add", kAddDescription);
  add->footer(kAddFooter);

  // The option values live as long as the command line that parses them.
  auto group_flags = std::make_shared<GroupFlags>(*attest);
  auto add_flags = std::make_shared<AddFlags>(*add);

  // With a subcommand named, the group's own body does nothing.
  attest->callback([attest, group_flags, &selected] {
    if (!attest->get_subcommands().empty()) return;
    selected = {attest, [options = group_flags->options()] { return run_attest(options); }};
  });
  add->callback([add, add_flags, &selected] {
    selected = {add, [options = add_flags->options()] { return run_attest_add(options); }};
  });
}

}  // namespace tamrik::attest
