#include "platform/record_richness.hpp"

#include <string>

namespace tamrik::platform {

namespace {

bool carries_attestation(const core::Json& record) {
  const std::string event = core::get_text(record, "event");
  if (event == "commit_unattested" || event == "attestation_skipped") return false;
  const auto attestation = record.find("attestation");
  return attestation != record.end() && attestation->is_object() && !attestation->empty();
}

bool names_agent(const core::Json& record) {
  const std::string agent = core::get_text(record, "agent");
  return !agent.empty() && agent != "unknown";
}

}  // namespace

int record_richness(const core::Json& record) {
  if (!record.is_object()) return 0;
  return (carries_attestation(record) ? 2 : 0) + (names_agent(record) ? 1 : 0);
}

}  // namespace tamrik::platform
