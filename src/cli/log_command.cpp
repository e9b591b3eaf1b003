#include "cli/log_command.hpp"

#include "cli/pager.hpp"
#include "cli/record_text.hpp"
#include "host/display/output.hpp"
#include "synccore/record_filter.hpp"
#include "synccore/recorded_commits.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tamrik::cli {

namespace {

using display::output::console;
using synccore::RecordKind;
using synccore::RecordView;
using synccore::UploadState;

struct LogOptions {
  std::string range;
  std::optional<size_t> max_count;  // all when absent
  std::optional<std::string> agent, model, developer, task_type, since, until;
  bool attested = false;
  bool unattested = false;
  bool pending = false;
  bool json = false;

  size_t limit() const { return max_count.value_or(SIZE_MAX); }

  synccore::RecordFilter filter() const {
    return {.agent = agent,
            .model = model,
            .developer = developer,
            .task_type = task_type,
            .since = since ? std::optional<double>(date_option("--since", *since)) : std::nullopt,
            .until = until ? std::optional<double>(date_option("--until", *until)) : std::nullopt,
            .attested = attested     ? synccore::AttestedFilter::attested
                        : unattested ? synccore::AttestedFilter::unattested
                                     : synccore::AttestedFilter::any,
            .pending_only = pending};
  }
};

std::string mark_of(RecordKind kind, const Paint& paint) {
  switch (kind) {
    case RecordKind::attested: return paint("32", "✓ attested  ");
    case RecordKind::unattested: return paint("31", "✗ unattested");
    case RecordKind::skipped: return paint("33", "– skipped   ");
  }
  return "";
}

std::string upload_text(UploadState state, const Paint& paint) {
  switch (state) {
    case UploadState::uploaded: return paint("2", "uploaded");
    case UploadState::pending: return paint("33", "pending ");
    case UploadState::unaddressable: return paint("31", "unsendable");
  }
  return "";
}

std::string or_dash(const std::string& text) { return text.empty() ? "-" : shown(text); }

// hash  day  branch  agent/model  task type  mark  upload  summary
std::string record_line(const RecordView& record, const Paint& paint) {
  std::string who = or_dash(record.agent);
  if (!record.model.empty()) who += "/" + shown(record.model);
  return paint("33", short_hash(record.commit)) + "  " + day_of(record) + "  " + paint("36", or_dash(record.branch)) +
         "  " + who + "  " + or_dash(record.task_type) + "  " + mark_of(record.kind, paint) + "  " +
         upload_text(record.upload, paint) + "  " + shown(record.summary);
}

std::string unrecorded_line(const synccore::RangeCommit& commit, const Paint& paint) {
  return paint("33", short_hash(commit.commit)) + "  " + shown(commit.date.substr(0, 10)) + "  " +
         paint("2", "(no record)") + "  " + shown(commit.subject);
}

class LogPrinter {
 public:
  explicit LogPrinter(bool json) : json_(json), paint_(!json && display::output::colour_enabled(stdout)) {}

  void record(const RecordView& record) const {
    console().print(json_ ? json_text(record_json(record)) : record_line(record, paint_));
  }
  void unrecorded(const synccore::RangeCommit& commit) const {
    console().print(json_ ? json_text({{"commit", commit.commit},
                                       {"date", commit.date},
                                       {"subject", commit.subject},
                                       {"recorded", false}})
                          : unrecorded_line(commit, paint_));
  }
  // Whether output still goes anywhere: a pager quit early takes the rest.
  bool listening() const { return std::ferror(stdout) == 0; }

 private:
  bool json_;
  Paint paint_;
};

int log_range(const services::Checkout& checkout, const LogOptions& options, const LogPrinter& printer) {
  const synccore::RecordFilter filter = options.filter();
  const size_t limit = options.limit();
  const std::optional<std::vector<synccore::RangeCommit>> commits =
      synccore::commits_in_range(checkout.work_tree, options.range, filter.narrows() ? SIZE_MAX : limit);
  if (!commits) {
    throw attest::UsageError("git does not know the revision range '" + shown(options.range) +
                             "'; write it as git log takes it, such as main..feature");
  }
  synccore::LedgerView view(checkout.home);
  std::vector<std::string> hashes;
  for (const synccore::RangeCommit& commit : *commits) hashes.push_back(commit.commit);
  std::map<std::string, RecordView> records = view.find_views(hashes);
  size_t printed = 0;
  for (const synccore::RangeCommit& commit : *commits) {
    if (printed == limit || !printer.listening()) break;
    const auto found = records.find(commit.commit);
    if (found == records.end()) {
      if (filter.narrows()) continue;  // a filter asks about records
      printer.unrecorded(commit);
    } else {
      if (!filter.matches(found->second, view)) continue;
      view.complete_from_archive(found->second);
      printer.record(found->second);
    }
    ++printed;
  }
  return 0;
}

int log_ledger(const services::Checkout& checkout, const LogOptions& options, const LogPrinter& printer) {
  const synccore::RecordFilter filter = options.filter();
  const size_t limit = options.limit();
  if (limit == 0) return 0;
  synccore::LedgerView view(checkout.home);
  size_t printed = 0;
  view.newest_first([&](RecordView& record) {
    if (!filter.matches(record, view)) return true;
    view.complete_from_archive(record);
    printer.record(record);
    return ++printed < limit && printer.listening();
  });
  return 0;
}

int run_log(const LogOptions& options) {
  const std::optional<services::Checkout> checkout = checkout_with_ledger();
  if (!checkout) return 1;
  options.filter();  // a bad date is a usage error before any output
  const LogPrinter printer(options.json);
  std::optional<Pager> pager;
  if (!options.json) pager.emplace();
  return options.range.empty() ? log_ledger(*checkout, options, printer) : log_range(*checkout, options, printer);
}

}  // namespace

void add_log_command(CLI::App& parent, attest::SelectedCommand& selected) {
  CLI::App* log = parent.add_subcommand("log", "Show the recorded commits, the latest recorded first, one line each.");
  log->footer(
      "Each line: short hash, date, branch, agent/model, task type, attested mark, upload state, summary.\n"
      "Text filters match any part of the value, case aside. DATE is 2026-05-01 (midnight UTC) or\n"
      "2026-05-01T14:30:00Z. With --json, one JSON object per line: commit, date, branch, agent, model,\n"
      "developer, task_type, kind, upload, summary, tokens, recorded (false, with subject, for a commit of\n"
      "the range that has no record).");
  auto options = std::make_shared<LogOptions>();
  log->add_option("range", options->range, "A revision range such as main..feature: exactly its commits, in git's order.");
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
  log->callback([log, options, &selected] { selected = {log, [options] { return run_log(*options); }}; });
}

}  // namespace tamrik::cli
