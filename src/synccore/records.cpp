#include "synccore/records.hpp"

#include "core/best_effort.hpp"
#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/log.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "host/services/ledger_service.hpp"
#include "host/services/shared.hpp"
#include "synccore/diagnostics.hpp"
#include "synccore/git.hpp"
#include "synccore/ledger.hpp"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace tamrik::synccore {

namespace {

// The archive names files after commits; a name that could leave the
// directory is refused before it becomes a path.
path archive_file(const path& attestations_dir, const std::string& commit, std::string_view suffix) {
  if (commit.empty() || commit == "." || commit == ".." || commit.find('/') != std::string::npos ||
      commit.find('\0') != std::string::npos) {
    throw core::OSError("archive " + commit, EINVAL);
  }
  return attestations_dir / (commit + std::string(suffix));
}

Json ledger_entry_for(const Json& parsed, const std::string& commit, const std::string& branch,
                      const std::optional<std::string>& event) {
  Json entry = Json::object();
  entry["commit"] = commit;
  entry["branch"] = branch;
  for (const char* key : {"timestamp", "agent", "summary"}) {
    const auto value = parsed.find(key);
    entry[key] = value == parsed.end() ? Json("") : *value;
  }
  entry["synced"] = false;
  if (event && !event->empty()) entry["event"] = *event;
  for (const char* key :
       {"agent_provider", "agent_id", "agent_session_id", "developer", "telemetry", kDiffHashMismatch}) {
    if (core::is_set(parsed, key)) entry[key] = parsed[key];
  }
  return entry;
}

// The slug of the change an attestation completes, if any.
std::optional<std::string> sealed_slug_of(const Json& parsed) {
  const auto process = parsed.find("process");
  if (process != parsed.end() && process->is_object() && core::is_set(*process, "slug")) {
    return core::get_text(*process, "slug");
  }
  const std::vector<std::string> slugs = services::shared::extract_change_spec_slugs(parsed);
  if (!slugs.empty()) return slugs.front();
  return std::nullopt;
}

}  // namespace

void _log_attestation(const path& log_path, const path& attestations_dir, const Json& parsed,
                      const LogAttestationOptions& options) {
  // Ask git only for what the caller did not already know.
  const std::optional<path> work_tree =
      options.checkout ? std::optional<path>(options.checkout->work_tree) : std::nullopt;
  const std::string commit = options.commit_override ? *options.commit_override : _git_rev_parse({"HEAD"}, work_tree);
  const std::string branch = options.branch ? *options.branch : _git_rev_parse({"--abbrev-ref", "HEAD"}, work_tree);

  core::make_dirs(attestations_dir);
  const path archived = archive_file(attestations_dir, commit, ".yaml");
  const bool archived_before = core::path_exists(archived);
  try {
    core::replace_file_atomically(archived, core::emit_yaml(parsed), core::Durability::flush,
                                  core::ReplacedMode::keep_target);
    if (options.archive_ledger) {
      _archive_ledger_segment(options.checkout ? options.checkout->home : path("."), attestations_dir, parsed, commit);
    }
    const Json entry = ledger_entry_for(parsed, commit, branch, options.event);
    if (options.replace_existing && _replace_log_entry(log_path, entry)) return;
    _append_log_entry(log_path, entry);
  } catch (const core::OSError&) {
    // An archive whose line could not be written records nothing; leave no
    // new one behind to be read as this commit's attestation.
    if (!archived_before) core::remove_file(archived);
    throw;
  }
}

BackfillResult _write_commit_record(const Checkout& checkout, const std::string& commit, CommitRecordOptions options) {
  const CommitFields fields = options.fields ? std::move(*options.fields) : commit_fields(checkout.work_tree, commit);
  const std::string& author_date = fields.author_date;
  const std::string& subject = fields.subject;

  if (options.developer_from != DeveloperFrom::given) {
    const bool author = options.developer_from == DeveloperFrom::author;
    const std::string& name = author ? fields.author_name : fields.committer_name;
    const std::string& email = author ? fields.author_email : fields.committer_email;
    Json developer = Json::object();
    if (!name.empty()) developer["git_author_name"] = name;
    if (!email.empty()) developer["git_author_email"] = email;
    options.developer = developer.empty() ? std::nullopt : std::optional<Json>(developer);
  }
  const bool has_telemetry = options.telemetry && core::is_set(*options.telemetry);
  const bool has_session = options.session_id && !options.session_id->empty();
  if (has_telemetry && has_session && options.telemetry->is_object() && !options.telemetry->contains("session_id")) {
    (*options.telemetry)["session_id"] = *options.session_id;
  }

  Json document = Json::object();
  document["source"] = options.source;
  document["timestamp"] = author_date;
  document["agent"] = options.agent_name;
  if (options.agent_provider && !options.agent_provider->empty()) document["agent_provider"] = *options.agent_provider;
  if (has_telemetry && core::is_set(*options.telemetry, "model"))
    document["agent_model"] = (*options.telemetry)["model"];
  if (has_session) document["agent_session_id"] = *options.session_id;
  if (options.developer && core::is_set(*options.developer)) document["developer"] = *options.developer;
  if (options.source == "backfill") document["provenance"] = {{"type", "ad-hoc"}, {"ref", "backfill"}};
  if (options.task_type && !options.task_type->empty()) {
    document["task_type"] = *options.task_type;
    document["task_type_source"] = "declared";
  } else if (const auto inferred = infer_task_type(subject, options.branch)) {
    document["task_type"] = *inferred;
    document["task_type_source"] = "inferred";
  }
  document["summary"] = subject;
  if (has_telemetry) document["telemetry"] = *options.telemetry;

  _log_attestation(paths::log_jsonl(checkout.home), paths::attestations_dir(checkout.home), document,
                   {.commit_override = commit,
                    .checkout = checkout,
                    .archive_ledger = options.archive_ledger,
                    .event = options.event,
                    .replace_existing = false,
                    .branch = options.branch});
  return BackfillResult{.commit = commit,
                        .written = true,
                        .reason = "",
                        .tokens = has_telemetry && core::is_set(*options.telemetry, "tokens"),
                        .attested = false};
}

void _archive_ledger_segment(const path& repo_root, const path& attestations_dir, const Json& parsed,
                             const std::string& commit) {
  core::best_effort("Ledger segment archival skipped", [&] {
    const std::optional<std::string> slug = sealed_slug_of(parsed);
    if (!slug) return;
    if (!paths::is_safe_slug(*slug)) {
      logger.debug("Ledger segment archival skipped: unsafe change slug %r", {*slug});
      return;
    }
    const path live = paths::ledger_jsonl(repo_root, *slug);
    core::make_dirs(attestations_dir);
    if (!core::path_exists(live)) return;
    // The milestone is a courtesy; archiving the ledger is what matters.
    core::best_effort("Ledger milestone skipped", [&] {
      if (!services::ledger_service::is_sealed(repo_root, *slug)) {
        services::ledger_service::mark_milestone(repo_root, *slug, "sealed", Json{{"commit", commit}});
      }
    });
    const path archived = archive_file(attestations_dir, commit, ".ledger.jsonl");
    core::rename_file(live, archived);
    core::remove_file(live.string() + ".lock");
    services::ledger_service::clear_pointers_for_slug(repo_root, *slug);
  });
}

}  // namespace tamrik::synccore
