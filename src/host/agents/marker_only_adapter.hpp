#pragma once
// An adapter for a harness whose transcripts document no model or token
// counts: it tells when the harness runs and answers every question about
// sessions with "unknown", never with a guess.

#include "host/agents/env_markers.hpp"
#include "host/agents/registry.hpp"

#include <span>
#include <string>

namespace tamrik::agents {

class MarkerOnlyAdapter final : public Adapter {
 public:
  MarkerOnlyAdapter(std::string name, std::string provider, std::span<const EnvMarker> markers)
      : name_(std::move(name)), provider_(std::move(provider)), markers_(markers) {}

  std::string name() const override { return name_; }
  std::string provider() const override { return provider_; }
  bool detect(bool strong_only) const override { return has_marker(markers_, strong_only); }

  std::optional<std::string> get_session_id(const path& /*repo_root*/) const override { return std::nullopt; }

  std::optional<SessionTelemetry> get_telemetry_for_session(const path& /*repo_root*/,
                                                            std::string_view /*session_id*/) const override {
    return std::nullopt;
  }

  std::optional<SessionHits> sessions_mentioning(const path& /*repo_root*/, const std::vector<std::string>& /*shas*/,
                                                 std::optional<double> /*since*/,
                                                 const std::map<std::string, double>& /*commit_times*/) const override {
    return std::nullopt;
  }

 private:
  std::string name_;
  std::string provider_;
  std::span<const EnvMarker> markers_;
};

}  // namespace tamrik::agents
