#include "cli/log_command.hpp"

#include "cli/pager.hpp"
#include "attest/attest.hpp"
#include "cli/record_text.hpp"
#include "synccore/synccore.hpp"

#include <cstdio>
#include <map>
#include <optional>
#include <string>

namespace tamrik::cli {

synccore::RecordFilter LogOptions::filter() const {
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

namespace {

using display::output::Console;
using synccore::RecordKind;
using synccore::RecordView;
using synccore::UploadState;

std::string mark_of(RecordKind kind, const Paint& paint) {
  switch (kind) {
    case RecordKind::attested:
      return paint("32", "✓ attested  ");
    case RecordKind::unattested:
      return paint("31", "✗ unattested");
    case RecordKind::skipped:
      return paint("33", "– skipped   ");
  }
  return "";
}

std::string upload_text(UploadState state, const Paint& paint) {
  switch (state) {
    case UploadState::uploaded:
      return paint("2", "uploaded");
    case UploadState::pending:
      return paint("33", "pending ");
    case UploadState::unaddressable:
      return paint("31", "unsendable");
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
  LogPrinter(bool json, const Console& console)
      : json_(json), console_(console), paint_(!json && display::output::colour_enabled(console.out())) {}

  void record(const RecordView& record) const {
    console_.print(json_ ? json_text(record_json(record)) : record_line(record, paint_));
  }
  void unrecorded(const synccore::RangeCommit& commit) const {
    console_.print(
        json_
            ? json_text(
                  {{"commit", commit.commit}, {"date", commit.date}, {"subject", commit.subject}, {"recorded", false}})
            : unrecorded_line(commit, paint_));
  }
  // Whether output still goes anywhere: a pager quit early takes the rest.
  bool listening() const { return std::ferror(console_.out()) == 0; }

 private:
  bool json_;
  const Console& console_;
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

}  // namespace

int run_log(const LogOptions& options, const Console& console) {
  const std::optional<services::Checkout> checkout = checkout_with_ledger(console);
  if (!checkout) return 1;
  options.filter();  // a bad date is a usage error before any output
  const LogPrinter printer(options.json, console);
  std::optional<Pager> pager;
  if (!options.json) pager.emplace(console.out());
  return options.range.empty() ? log_ledger(*checkout, options, printer) : log_range(*checkout, options, printer);
}

}  // namespace tamrik::cli
