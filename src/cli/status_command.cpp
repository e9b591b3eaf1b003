#include "cli/status_command.hpp"

#include "synccore/synccore.hpp"

#include <cstdio>
#include <filesystem>

namespace tamrik::cli {

namespace {

using core::Json;
using display::output::Console;
using std::filesystem::path;

struct Status {
  services::Checkout checkout;
  bool set_up = false;
  std::vector<std::string> committed_files;  // under .tamrik, in the repository's history
  services::session_context::Session session;
  synccore::AttestationLog log;
  std::vector<synccore::TooLargeRecord> too_large;  // pending, but set aside by the last upload
  synccore::RulesCacheState rules;
  bool pending_attestation = false;
  bool post_commit_hook = false;
  bool post_rewrite_hook = false;
  Json agent_hooks = Json::object();  // agent -> true, false or null
};

std::vector<std::string> configured_agents(const path& repo_root) {
  try {
    return services::read_local_config(repo_root).agents;
  } catch (const std::exception&) {
    return {};  // an unreadable configuration lists no agents; `set_up` still says it exists
  }
}

// The repository's answers come from its home; the pending attestation and
// the post-commit hook are the checkout's own.
Status gather(const services::Checkout& checkout) {
  const path& repo_root = checkout.home;
  Status status;
  status.checkout = checkout;
  status.set_up = services::setup_list::is_set_up(repo_root);
  status.committed_files = services::setup_list::committed_tamrik_files(repo_root);
  status.session = services::session_context::resolve_session(repo_root);
  status.log = synccore::count_attestation_log(paths::log_jsonl(repo_root));
  status.too_large = synccore::read_too_large_records(repo_root);
  status.rules = synccore::read_rules_cache_state(paths::platform_dir(repo_root));
  status.pending_attestation = core::path_exists(paths::commit_attestation(checkout.work_tree));
  using hooks::installer::GitHook;
  status.post_commit_hook = hooks::installer::git_hook_installed(checkout.work_tree, GitHook::post_commit);
  status.post_rewrite_hook = hooks::installer::git_hook_installed(checkout.work_tree, GitHook::post_rewrite);
  for (const std::string& agent : configured_agents(repo_root)) {
    const std::optional<bool> installed = hooks::installer::agent_hooks_installed(agent);
    status.agent_hooks[agent] = installed ? Json(*installed) : Json();
  }
  return status;
}

Json ledger_counts(const Status& status) {
  const synccore::AttestationLog& log = status.log;
  return {{"pending", log.size()},
          {"uploaded", log.uploaded},
          {"skipped", log.skipped},
          {"unaddressable", log.unaddressable},
          {"corrupt", log.corrupt},
          {"attested", log.attested},
          {"unattested", log.unattested},
          {"diff_hash_mismatch", log.mismatched},
          {"too_large", status.too_large.size()}};
}

Json to_json(const Status& status) {
  const auto& session = status.session;
  return {{"repo_root", status.checkout.home.string()},
          {"set_up", status.set_up},
          {"committed_files", status.committed_files},
          {"linked", session.linked()},
          {"project_id", session.project_id},
          {"signed_in", session.signed_in()},
          {"api_url", session.api_url.empty() ? Json() : Json(session.api_url)},
          {"ledger", ledger_counts(status)},
          {"rules",
           {{"count", status.rules.count ? Json(*status.rules.count) : Json()},
            {"trustworthy", status.rules.trustworthy()},
            {"description", status.rules.describe()}}},
          {"pending_attestation", status.pending_attestation},
          {"hooks",
           {{"post_commit", status.post_commit_hook},
            {"post_rewrite", status.post_rewrite_hook},
            {"agents", status.agent_hooks}}}};
}

std::string project_text(const Json& project_id) {
  return project_id.is_string() ? project_id.get<std::string>() : project_id.dump();
}

std::string size_text(size_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  return text;
}

// The set-aside records by short hash and size, the first few of them.
std::string too_large_text(const std::vector<synccore::TooLargeRecord>& records) {
  constexpr size_t kShown = 5;
  constexpr size_t kShortHash = 12;
  std::string text;
  for (size_t i = 0; i < records.size() && i < kShown; ++i) {
    text += (i == 0 ? "" : ", ") + records[i].commit.substr(0, kShortHash) + " (" + size_text(records[i].bytes) + ")";
  }
  if (records.size() > kShown) text += " and " + std::to_string(records.size() - kShown) + " more";
  return text;
}

std::string hook_text(const Json& installed) {
  if (installed.is_null()) return "no hook rows for this harness (the post-commit hook records its commits)";
  return installed.get<bool>() ? "installed" : "missing — run `tamrik setup`";
}

void print_text(const Status& status, const Console& console) {
  const auto& session = status.session;
  const auto& log = status.log;
  console.print("tamrik status of " + status.checkout.home.string());
  if (status.checkout.work_tree != status.checkout.home) {
    console.print("  worktree:    " + status.checkout.work_tree.string() + " (records into the ledger above)");
  }
  if (!status.set_up) console.warning("tamrik is not set up here; run `tamrik setup`");
  if (!status.committed_files.empty()) {
    console.warning(services::setup_list::committed_files_notice(status.committed_files));
  }
  console.print("  project:     " + (session.linked()
                                         ? project_text(session.project_id)
                                         : "not linked — `tamrik sync` links it, or `tamrik setup project <id>`"));
  console.print("  signed in:   " +
                (session.signed_in() ? "yes (" + session.api_url + ")" : "no — run `tamrik auth login`"));
  console.print("  ledger:      " + std::to_string(log.size()) + " pending upload, " + std::to_string(log.uploaded) +
                " uploaded, " + std::to_string(log.skipped) + " skipped, " + std::to_string(log.unaddressable) +
                " unaddressable, " + std::to_string(log.corrupt) + " corrupt");
  console.print("               " + std::to_string(log.attested) + " attested, " + std::to_string(log.unattested) +
                " unattested");
  if (log.mismatched > 0) {
    console.warning(std::to_string(log.mismatched) +
                    " attestation(s) filed on a commit whose change does not match their staged_diff_hash "
                    "(\"diff_hash_mismatch\" in .tamrik/log.jsonl): check that each still describes its commit.");
  }
  if (!status.too_large.empty()) {
    console.print("  too large:   " + std::to_string(status.too_large.size()) +
                  " set aside, not uploaded: " + too_large_text(status.too_large));
    console.warning(
        "Records too large for the platform are not uploaded. Shorten what makes each one large — its attestation "
        ".tamrik/attestations/<commit>.yaml, its change ledger .tamrik/attestations/<commit>.ledger.jsonl, or a "
        "long summary in its line of .tamrik/log.jsonl — then run `tamrik sync`.");
  }
  console.print("  rules:       " + status.rules.describe());
  console.print(std::string("  attestation: ") +
                (status.pending_attestation ? "waiting in .tamrik/.commit-attestation.yaml (filed at the next commit)"
                                            : "none waiting"));
  console.print(std::string("  hooks:       post-commit ") + hook_text(status.post_commit_hook));
  console.print(std::string("               post-rewrite ") + hook_text(status.post_rewrite_hook));
  for (const auto& [agent, installed] : status.agent_hooks.items()) {
    console.print("               " + agent + " " + hook_text(installed));
  }
}

}  // namespace

Json status_json(const services::Checkout& checkout) { return to_json(gather(checkout)); }

int run_status(const StatusOptions& options, const Console& console) {
  const services::Checkout checkout = services::current_checkout();
  if (options.json) {
    console.print(status_json(checkout).dump(2, ' ', false, Json::error_handler_t::replace));
  } else {
    print_text(gather(checkout), console);
  }
  return 0;
}

}  // namespace tamrik::cli
