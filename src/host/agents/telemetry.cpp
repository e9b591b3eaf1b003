#include "host/agents/registry.hpp"

namespace tamrik::agents {

Json SessionTelemetry::to_dict() const {
  Json dict = Json::object();
  dict["session_id"] = session_id;
  if (!model.empty()) dict["model"] = model;
  if (tokens.any()) {
    dict["tokens"] = Json{{"input", tokens.input},
                          {"output", tokens.output},
                          {"cache_creation", tokens.cache_creation},
                          {"cache_read", tokens.cache_read}};
  }
  dict["turns"] = turns;
  if (!started_at.empty()) dict["started_at"] = started_at;
  if (!ended_at.empty()) dict["ended_at"] = ended_at;
  return dict;
}

}  // namespace tamrik::agents
