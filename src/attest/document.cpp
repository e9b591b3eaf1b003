#include "attest/document.hpp"

#include <string_view>

#include "synccore/synccore.hpp"

namespace tamrik::attest {

namespace {

namespace shared = services::shared;

bool has_text(const std::optional<std::string>& flag) { return flag && !flag->empty(); }

// The name of a decoded value's type, as the flag messages print it.
std::string_view type_name(const Json& value) {
  if (value.is_object()) return "dict";
  if (value.is_array()) return "list";
  if (value.is_string()) return "str";
  if (value.is_boolean()) return "bool";
  if (value.is_number_float()) return "float";
  if (value.is_number()) return "int";
  return "NoneType";
}

// The decoded value of a JSON flag; nullopt when the flag is absent or empty.
std::optional<Json> decode_flag(const std::optional<std::string>& flag, std::string_view option) {
  if (!has_text(flag)) return std::nullopt;
  try {
    return core::parse_json_or_throw(*flag);
  } catch (const core::JSONDecodeError& e) {
    throw AttestationInputError("Invalid " + std::string(option) + " JSON: " + e.what());
  }
}

void require_object(const Json& value, std::string_view option) {
  if (!value.is_object()) {
    throw AttestationInputError(std::string(option) + " must be a JSON object, got: " + std::string(type_name(value)));
  }
}

void require_provenance_type(const Json& provenance) {
  const auto it = provenance.find("type");
  const Json type = it == provenance.end() ? Json() : *it;
  if (!shared::is_one_of(shared::VALID_PROVENANCE_TYPES, type)) {
    throw AttestationInputError("provenance.type must be one of " +
                                shared::printed_names(shared::VALID_PROVENANCE_TYPES) +
                                ", got: " + shared::printed_value(type));
  }
}

// The members of --arch-changes named in V2_PRIMITIVES, in that order.
Json known_primitives(const Json& arch_changes) {
  Json changes = Json::object();
  for (std::string_view name : shared::V2_PRIMITIVES) {
    const auto it = arch_changes.find(name);
    if (it != arch_changes.end()) changes[std::string(name)] = *it;
  }
  return changes;
}

// The document's member with the longest value, to say what to shorten.
std::string largest_field(const Json& document) {
  std::string largest;
  size_t largest_size = 0;
  for (const auto& [key, value] : document.items()) {
    const size_t size = core::to_json_compact(value).size();
    if (size > largest_size) {
      largest = key;
      largest_size = size;
    }
  }
  return largest;
}

void require_within_size_cap(const Json& document) {
  const size_t size = render_pending_attestation(document).size();
  if (size <= MAX_ATTESTATION_BYTES) return;
  throw AttestationInputError("The attestation is " + std::to_string(size) + " bytes of YAML, over the limit of " +
                              std::to_string(MAX_ATTESTATION_BYTES) + " bytes; its largest field is `" +
                              largest_field(document) +
                              "`. Keep --summary to one line and --rules and --arch-changes to what changed, "
                              "then run `tamrik attest` again.");
}

void add_if_given(Json& document, std::string_view key, const std::optional<std::string>& flag) {
  if (has_text(flag)) document[std::string(key)] = *flag;
}

}  // namespace

Json build_attestation_document(const AttestFlags& flags) {
  const std::optional<Json> rules = decode_flag(flags.rules, "--rules");

  const std::optional<Json> arch_changes = decode_flag(flags.arch_changes, "--arch-changes");
  const bool has_changes = arch_changes && core::is_set(*arch_changes);
  if (has_changes) require_object(*arch_changes, "--arch-changes");

  const std::optional<Json> provenance = decode_flag(flags.provenance, "--provenance");
  if (provenance) {
    require_object(*provenance, "--provenance");
    require_provenance_type(*provenance);
  }

  Json document = Json::object();
  document["staged_diff_hash"] = flags.staged_diff_hash;
  document["timestamp"] = has_text(flags.timestamp) ? *flags.timestamp : core::utc_now_text();
  document["agent_model"] = flags.model;
  add_if_given(document, "agent", flags.agent);
  add_if_given(document, "agent_provider", flags.provider);
  add_if_given(document, "agent_id", flags.agent_id);
  if (provenance) document["provenance"] = *provenance;  // has a valid type, so it is never empty
  add_if_given(document, "task_type", flags.task_type);
  if (rules && core::is_set(*rules)) document["rules"] = *rules;
  if (has_changes) document["changes"] = known_primitives(*arch_changes);
  document["summary"] = flags.summary;
  require_within_size_cap(document);
  return document;
}

std::string render_pending_attestation(const Json& document) { return "---\n" + core::emit_yaml(document) + "---\n"; }

std::filesystem::path write_pending_attestation(const std::filesystem::path& repo_root, const Json& document) {
  std::filesystem::path file = paths::commit_attestation(repo_root);
  core::make_dirs(file.parent_path());
  core::replace_file_atomically(file, render_pending_attestation(document), core::Durability::flush,
                                core::ReplacedMode::keep_target);
  return file;
}

}  // namespace tamrik::attest
