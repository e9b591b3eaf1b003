#pragma once
// Gathers a session's telemetry while its transcript lines go by.

#include "host/agents/registry.hpp"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tamrik::agents {

class TelemetryBuilder {
 public:
  explicit TelemetryBuilder(std::string session_id) : session_id_(std::move(session_id)) {}

  // Any moment of the session; the first and last become started/ended.
  void saw_time(std::optional<double> when);
  // The latest model named so far wins.
  void saw_model(std::string_view model);
  // Usage of one response. A response written several times (streamed,
  // rewritten) counts once, with its last usage. An empty id is unique.
  void saw_usage(const std::string& response_id, const TokenCounts& counts);
  // A turn; the same id is counted once. An empty id is unique.
  void saw_turn(const std::string& turn_id);

  SessionTelemetry build() const;

 private:
  std::string session_id_;
  std::string model_;
  std::map<std::string, TokenCounts> usage_;
  TokenCounts anonymous_usage_;
  std::set<std::string> turn_ids_;
  long long anonymous_turns_ = 0;
  std::optional<double> first_;
  std::optional<double> last_;
};

}  // namespace tamrik::agents
