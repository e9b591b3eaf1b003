#include "host/agents/telemetry_builder.hpp"

#include "core/time_text.hpp"

#include <cmath>

namespace tamrik::agents {

namespace {

void add(TokenCounts& total, const TokenCounts& more) {
  total.input += more.input;
  total.output += more.output;
  total.cache_creation += more.cache_creation;
  total.cache_read += more.cache_read;
}

std::string utc_text(const std::optional<double>& when) {
  if (!when) return {};
  return core::format_utc(static_cast<std::time_t>(std::floor(*when)));
}

}  // namespace

void TelemetryBuilder::saw_time(std::optional<double> when) {
  if (!when || !std::isfinite(*when)) return;
  if (!first_ || *when < *first_) first_ = when;
  if (!last_ || *when > *last_) last_ = when;
}

void TelemetryBuilder::saw_model(std::string_view model) {
  if (!model.empty()) model_ = model;
}

void TelemetryBuilder::saw_usage(const std::string& response_id, const TokenCounts& counts) {
  if (response_id.empty()) {
    add(anonymous_usage_, counts);
  } else {
    usage_[response_id] = counts;
  }
}

void TelemetryBuilder::saw_turn(const std::string& turn_id) {
  if (turn_id.empty()) {
    ++anonymous_turns_;
  } else {
    turn_ids_.insert(turn_id);
  }
}

SessionTelemetry TelemetryBuilder::build() const {
  SessionTelemetry telemetry;
  telemetry.session_id = session_id_;
  telemetry.model = model_;
  telemetry.tokens = anonymous_usage_;
  for (const auto& [id, counts] : usage_) add(telemetry.tokens, counts);
  telemetry.turns = anonymous_turns_ + static_cast<long long>(turn_ids_.size());
  telemetry.started_at = utc_text(first_);
  telemetry.ended_at = utc_text(last_);
  return telemetry;
}

}  // namespace tamrik::agents
