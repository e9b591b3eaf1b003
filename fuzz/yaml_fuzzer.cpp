// YAML loading over arbitrary text: it loads or throws YAMLError, nothing
// else; what it loads survives emit and load unchanged; the attestation
// parser never throws. Text that is JSON goes through the same round trip,
// for values the YAML loader would not produce itself.

#include "core/errors.hpp"
#include "core/json.hpp"
#include "core/yaml.hpp"
#include "scratch.hpp"
#include "synccore/ledger.hpp"

#include <cmath>
#include <optional>
#include <vector>

namespace {

using tamrik::core::Json;
using tamrik::fuzz::require;

std::optional<Json> load(std::string_view text) {
  try {
    return tamrik::core::load_yaml(text);
  } catch (const tamrik::core::YAMLError&) {
    return std::nullopt;
  }
}

// Only finite numbers round-trip: YAML's .inf and .nan load as text.
bool has_only_finite_numbers(const Json& value) {
  std::vector<const Json*> todo{&value};
  while (!todo.empty()) {
    const Json* next = todo.back();
    todo.pop_back();
    if (next->is_number_float() && !std::isfinite(next->get<double>())) return false;
    if (next->is_structured()) {
      for (const Json& child : *next) todo.push_back(&child);
    }
  }
  return true;
}

void check_round_trip(const Json& value) {
  const std::string emitted = tamrik::core::emit_yaml(value);
  const std::optional<Json> again = load(emitted);
  require(again.has_value(), "emitted YAML does not load");
  require(*again == value, "emit then load changed the value");
  require(tamrik::core::emit_yaml(*again) == emitted, "emitting twice gave different text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = tamrik::fuzz::as_text(data, size);
  if (const std::optional<Json> loaded = load(text)) check_round_trip(*loaded);
  if (const std::optional<Json> parsed = tamrik::core::parse_json(text); parsed && has_only_finite_numbers(*parsed)) {
    check_round_trip(*parsed);
  }
  const Json attestation = tamrik::synccore::_parse_attestation_yaml(text);
  require(!attestation.is_null(), "the attestation parser gave null");
  return 0;
}
