#include "attest/group.hpp"

#include "attest/document.hpp"
#include "synccore/synccore.hpp"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tamrik::attest {

namespace {

using display::output::Console;
namespace shared = services::shared;

constexpr std::size_t kShownDiffHashLength = 16;

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

int print_example(const Console& console) {
  std::string_view text = hooks::scripts::example_attestation();
  if (text.ends_with('\n')) text.remove_suffix(1);
  console.print(text);
  return 0;
}

std::vector<std::string> missing_required(const AttestOptions& options) {
  std::vector<std::string> missing;
  if (!options.staged_diff_hash) missing.emplace_back("--staged-diff-hash");
  if (!options.model) missing.emplace_back("--model");
  if (!options.summary) missing.emplace_back("--summary");
  return missing;
}

int report_mismatch(const std::string& provided, const std::string& current, const Console& console) {
  console.error("Diff hash mismatch — staged changes have changed since hash was computed");
  console.print("  Provided: " + provided.substr(0, kShownDiffHashLength) + "...");
  console.print("  Current:  " + current.substr(0, kShownDiffHashLength) + "...");
  // The usual cause is not a change at all: porcelain diff under other diff
  // settings (diff.noprefix, CR LF files) prints other text than tamrik hashes.
  console.print(
      "  If nothing was staged since, the hash was computed from other text: tamrik hashes "
      "`git diff-index --cached -p -M HEAD | sed 's/\\r$//' | shasum -a 256` (before the first commit, "
      "`git diff --cached` in place of the diff-index).");
  return 1;
}

bool validation_skipped(const AttestOptions& options) {
  const char* env = std::getenv("TAMRIK_NO_VERIFY");
  return options.no_verify || (env != nullptr && std::strcmp(env, "1") == 0);
}

AttestFlags flags_of(const AttestOptions& options) {
  return {.staged_diff_hash = *options.staged_diff_hash,
          .timestamp = options.timestamp,
          .model = *options.model,
          .agent = options.agent,
          .provider = options.provider,
          .agent_id = options.agent_id,
          .provenance = options.provenance,
          .task_type = options.task_type,
          .rules = options.rules,
          .arch_changes = options.arch_changes,
          .summary = *options.summary};
}

// Warnings are shown and never stop; any error stops before writing.
bool passes_validation(const Json& document, const Console& console) {
  const shared::FieldReport report = shared::validate_attestation_fields(document);
  for (const std::string& warning : report.warnings) console.warning(warning);
  for (const std::string& error : report.errors) console.error(error);
  return report.errors.empty();
}

}  // namespace

int run_attest(const AttestOptions& options, const Console& console) {
  if (options.show_example) return print_example(console);
  if (const std::vector<std::string> missing = missing_required(options); !missing.empty()) {
    console.error("Missing required flags: " + joined(missing));
    return 1;
  }
  // The attestation waits beside the staged change it describes: in this
  // checkout, not in the home another worktree's agent also writes to.
  const std::filesystem::path repo_root = services::current_checkout().work_tree;
  const std::string current = shared::get_staged_diff_hash(repo_root).value_or("");
  if (*options.staged_diff_hash != current) return report_mismatch(*options.staged_diff_hash, current, console);

  Json document;
  try {
    document = build_attestation_document(flags_of(options));
  } catch (const AttestationInputError& e) {
    console.error(e.what());
    return 1;
  }
  if (!validation_skipped(options) && !passes_validation(document, console)) return 1;

  const std::filesystem::path written = write_pending_attestation(repo_root, document);
  console.success("Created " + written.lexically_relative(repo_root).string());
  console.info("  Run 'git commit': the commit whose change hashes to it gets this attestation; filed on a commit");
  console.info("  with another change (files staged since), it is marked diff_hash_mismatch.");
  return 0;
}

}  // namespace tamrik::attest
