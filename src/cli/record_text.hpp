#pragma once
// What `tamrik log`, `show` and `stats` share: the repository whose ledger
// they read, and record values made fit for a terminal. Every value a record
// holds was written by an agent or came with the repository, so it is
// printed only through shown().

#include "synccore/synccore.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tamrik::cli {

// Colour codes for the terminal, or nothing when colour is off.
class Paint {
 public:
  explicit Paint(bool on) : on_(on) {}
  std::string operator()(std::string_view sgr, std::string_view text) const;

 private:
  bool on_;
};

// `text` with its control characters (terminal escapes among them) made
// blanks, and broken UTF-8 replaced.
std::string shown(std::string_view text);

// The first 9 digits of a commit hash, as a person reads and types it.
std::string short_hash(std::string_view commit);

// The UTC day of a record ("2026-05-01"), or its timestamp text as it is
// when that does not parse.
std::string day_of(const synccore::RecordView& record);

// A record as `log --json` and `show --json` give it: commit, date,
// branch, agent, model, developer, task_type, kind, upload, summary and
// tokens ({input, output, cache}, or null), recorded: true.
core::Json record_json(const synccore::RecordView& record);

// JSON text for a terminal or a script: one line, everything beyond ASCII
// escaped, broken UTF-8 replaced.
std::string json_text(const core::Json& value, int indent = -1);

// The current checkout, warning on the console's stderr when the repository is not set
// up (an older ledger can still be read); nullopt, after saying what to
// run, when it has no ledger at all.
std::optional<services::Checkout> checkout_with_ledger(const display::output::Console& console);

// A --since/--until value in seconds since the epoch. Throws UsageError
// naming `option` when it is not a date.
double date_option(std::string_view option, const std::string& value);

}  // namespace tamrik::cli
