#include "cli/show_command.hpp"

#include "attest/attest.hpp"
#include "cli/pager.hpp"
#include "cli/record_text.hpp"
#include "synccore/synccore.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tamrik::cli {

namespace {

using core::Json;
using display::output::Console;
using synccore::RecordView;

// The texts of a member that holds one commit or a list of them.
std::vector<std::string> commits_named(const Json& entry, std::string_view key) {
  const auto value = entry.find(key);
  if (value == entry.end()) return {};
  if (value->is_string()) return {value->get<std::string>()};
  std::vector<std::string> texts;
  if (!value->is_array()) return texts;
  for (const Json& item : *value) {
    if (item.is_string()) texts.push_back(item.get<std::string>());
  }
  return texts;
}

class Layout {
 public:
  Layout(const Paint& paint, const Console& console) : paint_(paint), console_(console) {}

  // "label      value", left out when there is no value.
  void field(std::string_view label, const std::string& value) const {
    if (value.empty()) return;
    std::string padded(label);
    padded.resize(std::max<size_t>(padded.size(), 11), ' ');
    console_.print(paint_("1", padded) + shown(value));
  }
  // A nested value as indented YAML under its heading.
  void section(std::string_view heading, const Json& value) const {
    if (value.is_null() || (value.is_object() && value.empty())) return;
    console_.print("");
    console_.print(paint_("1", heading));
    const std::string text = value.is_string() ? value.get<std::string>() : core::emit_yaml(value);
    for (std::string_view line : core::lines_of(text)) console_.print("    " + shown(line));
  }

 private:
  const Paint& paint_;
  const Console& console_;
};

std::string state_text(const RecordView& record, const Json& attestation) {
  std::string text = std::string(synccore::kind_name(record.kind)) + ", ";
  switch (record.upload) {
    case synccore::UploadState::uploaded:
      text += "uploaded";
      break;
    case synccore::UploadState::pending:
      text += "waiting for `tamrik sync`";
      break;
    case synccore::UploadState::unaddressable:
      text += "never uploaded (its commit is not a full hash)";
      break;
  }
  if (core::is_set(record.entry, synccore::kDiffHashMismatch) ||
      core::is_set(attestation, synccore::kDiffHashMismatch)) {
    text += "; its staged diff hash matches no commit: check that it describes this one";
  }
  return text;
}

std::string tokens_text(const RecordView& record) {
  if (!record.tokens) return "";
  return "input " + std::to_string(record.tokens->input) + ", output " + std::to_string(record.tokens->output) +
         ", cache " + std::to_string(record.tokens->cache);
}

std::string joined(const std::vector<std::string>& texts) {
  std::string text;
  for (const std::string& item : texts) text += (text.empty() ? "" : ", ") + item;
  return text;
}

void print_record(const RecordView& record, const Json& attestation, const Paint& paint, const Console& console) {
  const Layout layout(paint, console);
  const Json& entry_telemetry = core::member(record.entry, "telemetry");
  const Json& telemetry = entry_telemetry.is_null() ? core::member(attestation, "telemetry") : entry_telemetry;
  std::string agent = record.agent;
  if (const std::string provider = core::get_text(record.entry, "agent_provider"); !provider.empty())
    agent += " (" + provider + ")";
  std::string session = core::get_text(record.entry, "agent_session_id");
  if (session.empty()) session = core::get_text(telemetry, "session_id");
  std::string task_type = record.task_type;
  if (const std::string source = core::get_text(attestation, "task_type_source");
      !task_type.empty() && !source.empty()) {
    task_type += " (" + source + ")";
  }

  console.print(paint("33", "commit " + shown(record.commit)));
  layout.field("date", record.timestamp);
  layout.field("branch", record.branch);
  layout.field("agent", agent);
  layout.field("model", record.model);
  layout.field("session", session);
  layout.field("developer", record.developer);
  layout.field("task type", task_type);
  layout.field("state", state_text(record, attestation));
  layout.field("tokens", tokens_text(record));
  layout.field("made from", joined(commits_named(record.entry, "rewritten_from")));
  layout.field("picked from", joined(commits_named(record.entry, "cherry_picked_from")));
  layout.field("rewritten to", core::get_text(record.entry, "rewritten_to"));
  if (const Json& carried = core::member(attestation, "attestations"); carried.is_array()) {
    layout.field("carries", std::to_string(carried.size()) + " attestations of the commits it was made from");
  }
  console.print("");
  console.print("    " + shown(record.summary));
  layout.section("provenance", core::member(attestation, "provenance"));
  layout.section("rules checked", core::member(attestation, "rules"));
  layout.section("architecture changes", core::member(attestation, "changes"));
  layout.section("telemetry", telemetry);
  if (attestation.empty() && record.kind == synccore::RecordKind::attested) {
    console.print("");
    console.print("(its attestation is not in .tamrik/attestations: the record's line is all there is)");
  }
}

}  // namespace

int run_show(const ShowOptions& options, const Console& console) {
  // Not set up is one of the answers: why_not_recorded() says it.
  const services::Checkout checkout = services::current_checkout();
  if (options.commit.starts_with("-"))
    throw attest::UsageError("COMMIT '" + shown(options.commit) + "' is not a commit");
  const std::optional<std::string> full = synccore::_resolve_full_sha(checkout.work_tree, options.commit);
  if (!full) {
    throw attest::UsageError("git knows no commit '" + shown(options.commit) +
                             "' here; name one as git does (HEAD~2, a hash, a branch)");
  }
  synccore::LedgerView view(checkout.home);
  std::map<std::string, RecordView> found = view.find({*full});
  if (found.empty()) {
    const std::string reason = synccore::why_not_recorded(checkout, *full);
    if (options.json) {
      console.print(json_text({{"commit", *full}, {"recorded", false}, {"reason", reason}}, 2));
    } else {
      console.print("No record for commit " + short_hash(*full) + ": " + reason);
    }
    return 1;
  }
  RecordView& record = found.begin()->second;
  view.complete_from_archive(record);
  const Json attestation = synccore::try_archived_attestation(checkout.home, record.commit).value_or(Json::object());
  if (options.json) {
    console.print(json_text({{"commit", *full},
                             {"recorded", true},
                             {"record", record_json(record)},
                             {"entry", record.entry},
                             {"attestation", attestation.empty() ? Json() : attestation}},
                            2));
    return 0;
  }
  const Paint paint(display::output::colour_enabled(console.out()));
  const Pager pager(console.out());
  print_record(record, attestation.is_object() ? attestation : Json::object(), paint, console);
  return 0;
}

}  // namespace tamrik::cli
