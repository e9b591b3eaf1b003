#include "synccore/recording_result.hpp"

#include "core/log.hpp"

namespace tamrik::synccore {

namespace {
const core::Logger logger("synccore");
}

std::optional<core::Json> _adapter_telemetry(const agents::Adapter& adapter, const std::filesystem::path& repo_root,
                                             std::string_view session_id, std::string_view source) {
  std::optional<agents::SessionTelemetry> telemetry;
  try {
    telemetry = adapter.get_telemetry_for_session(repo_root, session_id);
  } catch (const std::exception& e) {
    logger.debug("Adapter telemetry failed for %s", {session_id}, e);
    return std::nullopt;
  }
  if (!telemetry) return std::nullopt;
  core::Json map = telemetry->to_dict();
  if (!map.is_object()) map = core::Json::object();
  map["source"] = source;
  map["agent_runtime"] = adapter.name();
  return map;
}

}  // namespace tamrik::synccore
