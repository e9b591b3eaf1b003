// The flags of `tamrik attest` as fuzzed text: the document builder either
// refuses them with AttestationInputError or builds a document that the
// pending file carries to the filing step unchanged.
//
// Input: the flag values separated by NUL bytes (an argument can hold no
// NUL), in the order --rules, --arch-changes, --provenance, --summary,
// --model, --task-type, --agent, --timestamp.

#include "attest/document.hpp"
#include "core/json.hpp"
#include "core/utf8.hpp"
#include "host/services/shared.hpp"
#include "scratch.hpp"
#include "synccore/ledger.hpp"

#include <array>
#include <string>
#include <vector>

namespace {

using tamrik::core::Json;
using tamrik::fuzz::require;

std::vector<std::string> split_at_nul(std::string_view text) {
  std::vector<std::string> parts;
  for (;;) {
    const size_t nul = text.find('\0');
    parts.emplace_back(text.substr(0, nul));
    if (nul == std::string_view::npos) return parts;
    text.remove_prefix(nul + 1);
  }
}

std::optional<std::string> flag(const std::vector<std::string>& parts, size_t index) {
  if (index >= parts.size()) return std::nullopt;
  return parts[index];
}

bool is_valid_utf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    const tamrik::core::Utf8Char c = tamrik::core::decode_utf8_char(text, pos);
    if (!c.valid) return false;
    pos += c.length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = tamrik::fuzz::as_text(data, size);
  const std::vector<std::string> parts = split_at_nul(text);
  tamrik::attest::AttestFlags flags{
      .staged_diff_hash = "5f0c6e1d2a3b4c5d6e7f8091a2b3c4d5e6f708192a3b4c5d6e7f8091a2b3c4d5",
      .timestamp = flag(parts, 7),
      .model = flag(parts, 4).value_or("claude-opus-4-6"),
      .agent = flag(parts, 6),
      .provider = std::nullopt,
      .agent_id = std::nullopt,
      .provenance = flag(parts, 2),
      .task_type = flag(parts, 5),
      .rules = flag(parts, 0),
      .arch_changes = flag(parts, 1),
      .summary = flag(parts, 3).value_or("fuzzed change"),
  };

  Json document;
  try {
    document = tamrik::attest::build_attestation_document(flags);
  } catch (const tamrik::attest::AttestationInputError&) {
    return 0;
  }
  require(document.is_object() && document.contains("staged_diff_hash") && document.contains("summary"),
          "the document lacks its required keys");

  const std::string pending = tamrik::attest::render_pending_attestation(document);
  const Json filed = tamrik::synccore::_parse_attestation_yaml(pending);
  // Invalid UTF-8 in a flag is written as U+FFFD, so only valid text must
  // come back byte for byte.
  if (is_valid_utf8(text)) require(filed == document, "the pending file does not read back as the document");
  require(filed.is_object() && filed.size() == document.size(), "the pending file lost keys");
  return 0;
}
