#include "cli/command_line.hpp"

#include "attest/attest.hpp"
#include "cli/auth_command.hpp"
#include "cli/hook_command.hpp"
#include "cli/log_command.hpp"
#include "cli/mcp/server.hpp"
#include "cli/setup_command.hpp"
#include "cli/show_command.hpp"
#include "cli/stats_command.hpp"
#include "cli/status_command.hpp"
#include "cli/sync_command.hpp"
#include "cli/sync_run_command.hpp"
#include "synccore/synccore.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>

namespace tamrik::cli {

namespace {

using display::output::Console;

// Parsing picks one command and leaves it ready to run; the caller runs it
// and exits with its status. A usage error found while running goes back
// to the caller, which shows the usage line of `app` with the message.
struct SelectedCommand {
  const CLI::App* app = nullptr;
  std::function<int()> run;  // returns the exit status
};

constexpr const char* kDescription =
    "tamrik keeps one ledger record per commit made by AI coding agents, with the attestation the agent wrote.";

constexpr const char* kFooter = R"(Start with `tamrik setup` in a repository; after that every commit is recorded.
`tamrik <command> --help` shows a command's options.)";

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

// Every command below is added by one function taking the parent, where the
// parse leaves the chosen body, and the console the body writes to. The
// option values live as long as the command line that parses them.

constexpr const char* kSetupDescription = "Set tamrik up in this repository, so that every commit is recorded.";

constexpr const char* kSetupFooter =
    R"(Installs the git post-commit hook (`tamrik sync --record-commit`) and post-rewrite hook
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

void add_setup_command(CLI::App& parent, SelectedCommand& selected, const Console& console) {
  CLI::App* setup = parent.add_subcommand("setup", kSetupDescription);
  setup->footer(kSetupFooter);
  setup->require_subcommand(0, 1);
  auto values = std::make_shared<SetupOptions>();
  auto agents = std::make_shared<TextOption>(*setup, "--agents",
                                             "Comma-separated agent harnesses to hook (" + agent_names() + ").");
  CLI::Option* uninstall_flag =
      setup->add_flag("--uninstall", values->uninstall, "Remove what setup added; the ledger is kept.")
          ->excludes(agents->option());
  setup
      ->add_flag("--all", values->all,
                 "With --uninstall: remove the per-user agent hook rows too, though other "
                 "repositories are set up.")
      ->needs(uninstall_flag);
  setup
      ->add_flag("--guidance", values->guidance,
                 "Also keep tamrik's block in the agents' instruction files (CLAUDE.md, AGENTS.md...).")
      ->excludes(uninstall_flag);
  setup
      ->add_flag("--mcp-json", values->mcp_json,
                 "Register Claude Code's tool server in the repository's shared .mcp.json (for the whole team) "
                 "instead of your own ~/.claude.json.")
      ->excludes(uninstall_flag);

  CLI::App* project =
      setup->add_subcommand("project", "Set tamrik up and link this repository to an existing project.");
  project->add_option("id", values->project, "The project's id on the platform.")->required();

  setup->callback([setup, values, agents, &selected, &console] {
    if (!setup->get_subcommands().empty()) return;
    values->agents = agents->get();
    selected = {setup, [values, &console] { return run_setup(*values, console); }};
  });
  project->callback([project, values, agents, &selected, &console] {
    values->agents = agents->get();
    selected = {project, [values, &console] { return run_setup_project(*values, console); }};
  });
}

constexpr const char* kAuthFooter =
    R"(The key and URL are stored for your user in $XDG_CONFIG_HOME/tamrik/credentials.json
(~/.config/tamrik/credentials.json), readable by you only. TAMRIK_API_KEY and TAMRIK_API_URL
override them, for CI. The key is never printed.

The key and URL are checked with one request to the platform (at most 15 s) before they are
stored; --offline stores them unchecked, for a platform that is not up yet. http:// is accepted
only for this machine (localhost, 127.0.0.1, ::1); another host needs https://.

  tamrik auth login --api-url https://tamrik.example.com     (then paste the key)
  printf '%s\n' "$KEY" | tamrik auth login --api-url URL     (from a secret store)
  tamrik auth status                                         (exit status 1 when signed out))";

void add_auth_command(CLI::App& parent, SelectedCommand& selected, const Console& console) {
  CLI::App* auth = parent.add_subcommand("auth", "Sign in to the platform, or out, and show which key is in use.");
  auth->footer(kAuthFooter);
  auth->require_subcommand(1);

  CLI::App* login = auth->add_subcommand(
      "login",
      "Check an API key and the platform's URL with the platform, then store them for your user. Without "
      "--api-key the key is read from stdin.");
  auto values = std::make_shared<LoginOptions>();
  login->add_option("--api-key", values->api_key, "The API key (reading it from stdin keeps it out of shell history).");
  login->add_option("--api-url", values->api_url, "The platform's URL; defaults to the one in use before.");
  login->add_flag("--offline", values->offline,
                  "Store the key without checking it, for a platform that is not up yet.");
  login->callback([login, values, &selected, &console] {
    selected = {login, [values, &console] { return run_auth_login(*values, console); }};
  });

  CLI::App* status = auth->add_subcommand("status", "Show whether you are signed in, and where the key comes from.");
  status->callback([status, &selected, &console] {
    selected = {status, [&console] { return run_auth_status(console); }};
  });

  CLI::App* logout = auth->add_subcommand("logout", "Remove the stored API key.");
  logout->callback([logout, &selected, &console] {
    selected = {logout, [&console] { return run_auth_logout(console); }};
  });
}

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

constexpr const char* kAddFooter =
    R"(One call per commit. The agent, model and token counts come from the session's own transcript, the subject and date from git. The record is uploaded by the next `tamrik sync`. A commit that already has a record is left alone.

Example: tamrik attest add --commit a81f2c0 --session 3f0c... --task-type bug-fix

With only --commit and a pending .tamrik/.commit-attestation.yaml, the attestation is attached to a commit already recorded without one (the hook's nudge): the commit's log entry is upgraded in place and uploaded again.

With --from-hook (Claude Code's PostToolUse row, user-level) it reads the tool payload from stdin, ignores anything but a `git commit`, records HEAD for the payload's session, uploads best-effort, and always exits 0.)";

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
        provenance(
            app, "--provenance",
            R"(JSON string: {"type": "spec|ticket|bug-fix|ad-hoc", "ref": "..."}. Where the request came from.)"),
        task_type(app, "--task-type", "What kind of change this is, as opposed to where the request came from."),
        timestamp(app, "--timestamp", "ISO 8601 timestamp. Auto-generated if omitted."),
        no_verify(add_flag(app, "--no-verify", "Skip field validation (hash check still runs).")) {
    task_type.option()->check(task_types());
  }

  attest::AttestOptions options() const {
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
        from_hook(add_flag(app, "--from-hook",
                           "Hook invocation: read the PostToolUse payload from stdin, record HEAD, always exit 0.")),
        agent(app, "--agent", "With --from-hook only: the harness this row was installed for.") {
    task_type.option()->check(task_types());
    // Older hook rows pass it; accepted so they keep working.
    add_flag(app, "--user", "Installed at user level (accepted, no effect).")->group("");
  }

  attest::AddOptions options() const {
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

void add_attest_command(CLI::App& parent, SelectedCommand& selected, const Console& console) {
  CLI::App* attest = parent.add_subcommand("attest", kAttestDescription);
  attest->footer(kAttestFooter);
  attest->require_subcommand(0, 1);
  // A repeated option takes its last value, as in most command lines.
  attest->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  CLI::App* add = attest->add_subcommand("add", kAddDescription);
  add->footer(kAddFooter);

  auto group_flags = std::make_shared<GroupFlags>(*attest);
  auto add_flags = std::make_shared<AddFlags>(*add);

  // With a subcommand named, the group's own body does nothing.
  attest->callback([attest, group_flags, &selected, &console] {
    if (!attest->get_subcommands().empty()) return;
    selected = {attest, [options = group_flags->options(), &console] { return attest::run_attest(options, console); }};
  });
  add->callback([add, add_flags, &selected, &console] {
    selected = {add, [options = add_flags->options(), &console] { return attest::run_attest_add(options, console); }};
  });
}

constexpr const char* kSyncDescription =
    "File the pending attestation, upload unsent records and refresh the project context.";
constexpr const char* kSyncFooter = R"(Links the repository to its platform project the first time (sign in first with
`tamrik auth login`), repairs tamrik's hooks and ignore entries, uploads every record not yet
on the platform, and refreshes the rules, specs and skills agents read. One line per outcome;
exit status 1 when linking, the upload or the refresh failed. TAMRIK_DEBUG=1 also writes the
failure to .tamrik/.platform/logs/sync.log.

The sync waits at most 60 s for the platform, all requests together (--timeout SECONDS); on a
terminal a line on stderr says which request it is waiting for and when it gives up.)";
constexpr const char* kRecordCommitHelp =
    "Post-commit hook: record HEAD, start the upload in the background, print nothing, always exit 0.";

constexpr const char* kRecordRewriteHelp =
    "Post-rewrite hook: carry the records of the commits git lists on stdin (\"<old> <new>\" lines) to their new "
    "commits, print nothing, always exit 0. KIND is what git passes: amend or rebase.";

// The options of the full sync, none of which go with `excluded` (the git
// hooks' options).
void add_sync_run_options(CLI::App& sync, const std::vector<CLI::Option*>& excluded, SyncRunOptions& options) {
  CLI::Option* team_id =
      sync.add_option("--team-id", options.team_id,
                      "The team to link this repository under, when you belong to several. It is saved.")
          ->check(CLI::PositiveNumber);
  CLI::Option* timeout =
      sync.add_option_function<int>(
              "--timeout", [&options](int seconds) { options.deadline = std::chrono::seconds(seconds); },
              "The most the sync waits for the platform, in seconds, all its requests together (default: " +
                  std::to_string(kSyncDeadline.count()) + ").")
          ->option_text("SECONDS")
          ->check(CLI::Range(1, 3600));
  for (CLI::Option* hook_option : excluded) {
    team_id->excludes(hook_option);
    timeout->excludes(hook_option);
  }
}

void add_sync_command(CLI::App& parent, SelectedCommand& selected, const Console& console) {
  CLI::App* sync = parent.add_subcommand("sync", kSyncDescription);
  sync->footer(kSyncFooter);
  auto record_commit = std::make_shared<bool>(false);
  auto rewrite_kind = std::make_shared<std::string>();
  auto run_options = std::make_shared<SyncRunOptions>(SyncRunOptions{.show_waiting = true});
  CLI::Option* record_flag = sync->add_flag("--record-commit", *record_commit, kRecordCommitHelp);
  CLI::Option* rewrite_option = sync->add_option("--record-rewrite", *rewrite_kind, kRecordRewriteHelp)
                                    ->option_text("KIND")
                                    ->check(CLI::IsMember({"amend", "rebase"}))
                                    ->excludes(record_flag);
  add_sync_run_options(*sync, {record_flag, rewrite_option}, *run_options);
  sync->callback([sync, record_commit, rewrite_kind, run_options, &selected, &console] {
    if (*record_commit) {
      selected = {sync, record_commit_from_hook};
    } else if (!rewrite_kind->empty()) {
      selected = {sync, record_rewrite_from_hook};
    } else {
      selected = {sync, [run_options, &console] { return run_sync_command(*run_options, console); }};
    }
  });
}

void add_status_command(CLI::App& parent, SelectedCommand& selected, const Console& console) {
  CLI::App* status = parent.add_subcommand("status", "Show the ledger, the link to the platform and the hooks.");
  status->footer(
      "The --json form is one object with stable keys: repo_root, set_up, committed_files, linked, project_id, "
      "signed_in,\n"
      "api_url, ledger (pending, uploaded, skipped, unaddressable, corrupt, attested, unattested, too_large),\n"
      "rules (count, trustworthy, description), pending_attestation, hooks (post_commit, post_rewrite, agents).");
  auto options = std::make_shared<StatusOptions>();
  status->add_flag("--json", options->json, "Print one JSON object instead of text.");
  status->callback([status, options, &selected, &console] {
    selected = {status, [options, &console] { return run_status(*options, console); }};
  });
}

void add_log_command(CLI::App& parent, SelectedCommand& selected, const Console& console) {
  CLI::App* log = parent.add_subcommand("log", "Show the recorded commits, the latest recorded first, one line each.");
  log->footer(
      "Each line: short hash, date, branch, agent/model, task type, attested mark, upload state, summary.\n"
      "Text filters match any part of the value, case aside. DATE is 2026-05-01 (midnight UTC) or\n"
      "2026-05-01T14:30:00Z. With --json, one JSON object per line: commit, date, branch, agent, model,\n"
      "developer, task_type, kind, upload, summary, tokens, recorded (false, with subject, for a commit of\n"
      "the range that has no record).");
  auto options = std::make_shared<LogOptions>();
  log->add_option("range", options->range,
                  "A revision range such as main..feature: exactly its commits, in git's order.");
  log->add_option("-n,--max-count", options->max_count, "Show at most N commits.");
  log->add_option("--agent", options->agent, "Only records of this agent.");
  log->add_option("--model", options->model, "Only records made with this model.");
  log->add_option("--developer", options->developer, "Only records of this developer (name or email).");
  log->add_option("--task-type", options->task_type, "Only records of this task type.");
  log->add_option("--since", options->since, "Only records from DATE on.");
  log->add_option("--until", options->until, "Only records up to DATE.");
  CLI::Option* attested = log->add_flag("--attested", options->attested, "Only attested records.");
  log->add_flag("--unattested", options->unattested, "Only records without an attestation.")->excludes(attested);
  log->add_flag("--pending", options->pending, "Only records still waiting for `tamrik sync`.");
  log->add_flag("--json", options->json, "Print one JSON object per line instead of text.");
  log->callback([log, options, &selected, &console] {
    selected = {log, [options, &console] { return run_log(*options, console); }};
  });
}

void add_show_command(CLI::App& parent, SelectedCommand& selected, const Console& console) {
  CLI::App* show = parent.add_subcommand("show", "Show one commit's record and attestation, laid out for reading.");
  show->footer(
      "Without a record, says why (made before setup, in another clone, by another developer) and what to do;\n"
      "the exit status is then 1. --json: {commit, recorded, record, entry, attestation}, or {commit, recorded,\n"
      "reason}.");
  auto options = std::make_shared<ShowOptions>();
  show->add_option("commit", options->commit, "The commit (default HEAD): a hash, a branch, HEAD~2...");
  show->add_flag("--json", options->json, "Print one JSON object instead of text.");
  show->callback([show, options, &selected, &console] {
    selected = {show, [options, &console] { return run_show(*options, console); }};
  });
}

void add_stats_command(CLI::App& parent, SelectedCommand& selected, const Console& console) {
  CLI::App* stats =
      parent.add_subcommand("stats", "Count the recorded commits per agent, model, developer, task type or week.");
  stats->footer(
      "Per group: commits, the share made by agents (records naming an agent other than \"unknown\"), the share\n"
      "attested, tokens (input, output, cache creation and reads) in all, and per attested commit. DATE is\n"
      "2026-05-01 (midnight UTC) or 2026-05-01T14:30:00Z. Grouping by task type, or by model where the\n"
      "telemetry names none, reads each record's attestation. --json: {by, since, until, total, groups, corrupt}.");
  auto options = std::make_shared<StatsOptions>();
  stats->add_option("--by", options->by, "Group by agent (the default), model, developer, task-type or week.")
      ->check(CLI::IsMember({"agent", "model", "developer", "task-type", "week"}));
  stats->add_option("--since", options->since, "Only records from DATE on.");
  stats->add_option("--until", options->until, "Only records up to DATE.");
  stats->add_flag("--json", options->json, "Print one JSON object instead of text.");
  stats->callback([stats, options, &selected, &console] {
    selected = {stats, [options, &console] { return run_stats(*options, console); }};
  });
}

void add_hook_command(CLI::App& parent, SelectedCommand& selected, const Console& console) {
  CLI::App* hook = parent.add_subcommand("hook", "Entries for agent harness hooks (they always exit 0).");
  hook->require_subcommand(1);

  CLI::App* start = hook->add_subcommand(
      "session-start", "Record the commits no hook saw, then print the session summary for the agent.");
  auto start_values = std::make_shared<SessionStartOptions>();
  start->add_option("--agent", start_values->agent, "The harness this row was installed for.")->capture_default_str();
  start->add_option("--limit", start_values->limit, "Most commits the catch-up records.")
      ->capture_default_str()
      ->check(CLI::Range(1, 10'000));
  start->callback([start, start_values, &selected, &console] {
    selected = {start, [start_values, &console] { return run_session_start(*start_values, console); }};
  });

  CLI::App* post_tool =
      hook->add_subcommand("post-tool", "The same as `tamrik attest add --from-hook`: record a commit the agent made.");
  auto post_agent = std::make_shared<std::string>(kDefaultHookAgent);
  post_tool->add_option("--agent", *post_agent, "The harness this row was installed for.")->capture_default_str();
  post_tool->callback([post_tool, post_agent, &selected] {
    selected = {post_tool, [post_agent] { return run_post_tool(*post_agent); }};
  });
}

// The tool server owns stdin and stdout: it speaks the protocol there.
void add_mcp_command(CLI::App& parent, SelectedCommand& selected) {
  CLI::App* mcp = parent.add_subcommand(
      "mcp", "Serve tamrik's tools to an agent (status, session summary, sync, attestation) over stdin and stdout.");
  mcp->footer("One JSON-RPC message per line. Agents set up by `tamrik setup` start it themselves.");
  mcp->callback([mcp, &selected] { selected = {mcp, [] { return mcp::serve(TAMRIK_VERSION); }}; });
}

void add_commands(CLI::App& app, SelectedCommand& selected, const Console& console) {
  add_setup_command(app, selected, console);
  add_auth_command(app, selected, console);
  add_attest_command(app, selected, console);
  add_sync_command(app, selected, console);
  add_status_command(app, selected, console);
  add_log_command(app, selected, console);
  add_show_command(app, selected, console);
  add_stats_command(app, selected, console);
  add_hook_command(app, selected, console);
  add_mcp_command(app, selected);
}

// "tamrik attest add": the names from the root down to `command`.
std::string command_path(const CLI::App& command) {
  const CLI::App* parent = command.get_parent();
  return parent == nullptr ? command.get_name() : command_path(*parent) + " " + command.get_name();
}

// The command's usage line, where to find its help, and the message, all
// on stderr; the exit status, 2.
int report_usage_error(const CLI::App& command, std::string_view message, const Console& console) {
  const std::string path = command_path(command);
  const std::string usage = CLI::Formatter().make_usage(&command, path);
  const std::string hint = "Try '" + path + " --help' for help.\n\n";
  std::fflush(console.out());
  std::fputs(usage.c_str(), console.err());
  std::fputs(hint.c_str(), console.err());
  console.error("Error: " + std::string(message));
  return 2;
}

// The command a failed parse got to: the deepest subcommand seen.
const CLI::App& deepest_command(const CLI::App& root) {
  const CLI::App* command = &root;
  while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
  return *command;
}

int run(const SelectedCommand& selected, const Console& console) {
  try {
    return selected.run();
  } catch (const attest::UsageError& e) {
    return report_usage_error(*selected.app, e.what(), console);
  } catch (const std::exception& e) {
    console.error("tamrik: " + std::string(e.what()));
    return 1;
  }
}

}  // namespace

int run_command_line(int argc, const char* const* argv, const Console& console) {
  CLI::App app(kDescription, "tamrik");
  app.footer(kFooter);
  app.set_version_flag("--version", TAMRIK_VERSION);
  app.require_subcommand(1);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  SelectedCommand selected;
  add_commands(app, selected, console);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version arrive here as well, with status 0.
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      std::ostringstream text;
      const int status = app.exit(e, text, text);
      std::fputs(text.str().c_str(), console.out());
      std::fflush(console.out());
      return status;
    }
    return report_usage_error(deepest_command(app), e.what(), console);
  }
  return run(selected, console);
}

}  // namespace tamrik::cli
