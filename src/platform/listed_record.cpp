#include "platform/listed_record.hpp"

namespace tamrik::platform {

core::Json listed_record(const std::string& stored, const std::optional<std::string>& superseded_by) {
  core::Json record = core::parse_json_or_throw(stored);
  if (record.is_object()) {
    record.erase("superseded_by");
    if (superseded_by) record["superseded_by"] = *superseded_by;
  }
  return record;
}

}  // namespace tamrik::platform
