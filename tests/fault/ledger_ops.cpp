// One ledger operation per run, for the fault-injection and crash tests,
// which run it under the fault library or kill it part-way:
//
//   ledger_ops append  <ledger> <commit>
//   ledger_ops mark    <ledger> <commit>...     marks those commits synced (journal, fold)
//   ledger_ops mark-all <ledger>                marks every pending commit
//   ledger_ops mark-batches <ledger> <report>   marks the pending commits as an
//                                               upload does, batch by batch, each
//                                               batch's commits added to <report>
//                                               once marked; then folds
//   ledger_ops file    <repo root> [<commit>]   files the pending attestation
//   ledger_ops archive <ledger> <attestations dir> <commit>
//
// It prints "ready" on stdout just before the operation starts and one line
// saying what happened after it. Exit status: 0 done; 1 the operation threw
// (its message on stderr); 2 filing reported an error and kept the pending
// file; 64 bad usage.

#include "core/file_io.hpp"
#include "core/json.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/pending.hpp"
#include "synccore/records.hpp"
#include "synccore/upload.hpp"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace {

using tamrik::core::Json;
namespace synccore = tamrik::synccore;

constexpr int kFailed = 1;
constexpr int kNotFiled = 2;
constexpr int kUsage = 64;

void ready() {
  std::fputs("ready\n", stdout);
  std::fflush(stdout);
}

Json entry_for(const std::string& commit) {
  return Json{{"commit", commit},
              {"branch", "main"},
              {"timestamp", "2026-07-25T10:00:00Z"},
              {"agent", "claude-code"},
              {"summary", "Add retry to upload"},
              {"synced", false}};
}

// Marks the lines of `batch`'s commits as an upload does (journal, fold).
// The ledger is read here with a read that throws, so a failed open is
// reported with its error rather than taken for an empty ledger.
int mark(const std::string& ledger, Json batch) {
  ready();
  std::vector<synccore::SentLine> sent;
  const std::string text = tamrik::core::read_file(ledger, size_t{1} << 30);
  for (std::string_view line : synccore::detail::split_lines(text)) {
    const std::optional<Json> entry = tamrik::core::parse_json(line);
    if (!entry || !entry->is_object()) continue;
    for (const Json& wanted : batch) {
      if ((*entry)["commit"] == wanted["commit"]) sent.push_back({wanted["commit"], synccore::_line_identity(*entry)});
    }
  }
  synccore::_mark_synced(ledger, sent);
  synccore::_fold_synced(ledger);
  std::printf("marked %zu\n", batch.size());
  return 0;
}

int run(const std::vector<std::string>& args) {
  const std::string& op = args[0];
  if (op == "append" && args.size() == 3) {
    ready();
    synccore::_append_log_entry(args[1], entry_for(args[2]));
    std::puts("appended");
    return 0;
  }
  if (op == "mark" && args.size() >= 3) {
    Json batch = Json::array();
    for (size_t i = 2; i < args.size(); ++i) batch.push_back(entry_for(args[i]));
    return mark(args[1], std::move(batch));
  }
  if (op == "mark-all" && args.size() == 2) {
    const synccore::AttestationLog log = synccore::read_attestation_log(args[1]);
    return mark(args[1], Json(log.pending));
  }
  if (op == "mark-batches" && args.size() == 3) {
    const synccore::AttestationLog log = synccore::read_attestation_log(args[1]);
    ready();
    for (size_t start = 0; start < log.pending.size(); start += synccore::ATTESTATION_BATCH_SIZE) {
      std::vector<synccore::SentLine> sent;
      std::string names;
      for (size_t i = start; i < std::min(log.pending.size(), start + synccore::ATTESTATION_BATCH_SIZE); ++i) {
        sent.push_back({log.pending[i]["commit"].get<std::string>(), synccore::_line_identity(log.pending[i])});
        names += sent.back().commit + "\n";
      }
      synccore::_mark_synced(args[1], sent);
      tamrik::core::append_line(args[2], names);
    }
    synccore::_fold_synced(args[1]);
    std::printf("marked %zu\n", log.pending.size());
    return 0;
  }
  if (op == "file" && (args.size() == 2 || args.size() == 3)) {
    synccore::PendingOptions options;
    if (args.size() == 3) options.commit_override = args[2];
    ready();
    const synccore::AttestationResult result =
        synccore::process_pending_attestation(tamrik::services::Checkout::main(args[1]), options);
    if (result.error) {
      std::printf("not filed: %s\n", result.error->c_str());
      return kNotFiled;
    }
    std::printf("filed %s\n",
                result.matched_commit.value_or(result.found ? "(no commit)" : "(nothing pending)").c_str());
    return 0;
  }
  if (op == "archive" && args.size() == 4) {
    const Json document = {{"staged_diff_hash", "5f0c6e1d"},
                           {"timestamp", "2026-07-25T10:00:00Z"},
                           {"agent", "claude-code"},
                           {"summary", "Add retry to upload"}};
    ready();
    synccore::_log_attestation(args[1], args[2], document,
                               {.commit_override = args[3], .archive_ledger = false, .branch = "main"});
    std::puts("archived");
    return 0;
  }
  std::fprintf(stderr, "usage: ledger_ops append|mark|mark-all|mark-batches|file|archive ...\n");
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return run({""});
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::printf("failed\n");
    std::fprintf(stderr, "error: %s\n", e.what());
    return kFailed;
  }
}
