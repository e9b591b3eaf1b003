#include "cli/record_text.hpp"

#include "attest/attest.hpp"
#include "synccore/synccore.hpp"

namespace tamrik::cli {

std::string Paint::operator()(std::string_view sgr, std::string_view text) const {
  if (!on_) return std::string(text);
  return "\x1b[" + std::string(sgr) + "m" + std::string(text) + "\x1b[0m";
}

std::string shown(std::string_view text) { return core::printable_text(text); }

std::string short_hash(std::string_view commit) { return shown(commit.substr(0, 9)); }

std::string day_of(const synccore::RecordView& record) {
  if (!record.time) return shown(record.timestamp);
  return core::format_utc(static_cast<std::time_t>(*record.time)).substr(0, 10);
}

core::Json record_json(const synccore::RecordView& record) {
  core::Json tokens;
  if (record.tokens) {
    tokens = {{"input", record.tokens->input}, {"output", record.tokens->output}, {"cache", record.tokens->cache}};
  }
  return {{"commit", record.commit},
          {"date", record.timestamp},
          {"branch", record.branch},
          {"agent", record.agent},
          {"model", record.model},
          {"developer", record.developer},
          {"task_type", record.task_type},
          {"kind", synccore::kind_name(record.kind)},
          {"upload", synccore::upload_name(record.upload)},
          {"summary", record.summary},
          {"tokens", tokens},
          {"recorded", true}};
}

std::string json_text(const core::Json& value, int indent) {
  return value.dump(indent, ' ', true, core::Json::error_handler_t::replace);
}

std::optional<services::Checkout> checkout_with_ledger(const display::output::Console& console) {
  const services::Checkout checkout = services::current_checkout();
  const bool set_up = services::setup_list::is_set_up(checkout.home);
  if (!set_up)
    console.warning("tamrik is not set up in " + checkout.home.string() + "; run `tamrik setup` to record its commits");
  if (synccore::ledger_exists(checkout.home)) return checkout;
  if (set_up) return checkout;  // nothing recorded yet: an empty answer
  return std::nullopt;
}

double date_option(std::string_view option, const std::string& value) {
  if (const std::optional<double> seconds = core::parse_iso8601(value)) return *seconds;
  throw attest::UsageError(std::string(option) + " '" + shown(value) +
                           "' is not a date: write 2026-05-01 (midnight UTC) or 2026-05-01T14:30:00Z");
}

}  // namespace tamrik::cli
