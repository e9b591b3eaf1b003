#include "host/services/attestation_fields.hpp"

#include <algorithm>

#include "core/time_text.hpp"

namespace tamrik::services::shared {

namespace {

// Every top-level field some part of tamrik writes into a document or reads
// from one.
constexpr auto kKnownFields = std::to_array<std::string_view>(
    {"staged_diff_hash", "diff_hash", "timestamp", "agent_model", "agent", "agent_provider", "agent_id", "provenance",
     "task_type", "task_type_source", "rules", "changes", "summary", "process", "source", "developer",
     "agent_session_id", "telemetry"});

// Filled in after the commit from git, the agent's session and its transcript.
constexpr std::array<std::string_view, 3> kEnvironmentalFields = {"developer", "agent_session_id", "telemetry"};

constexpr std::array<std::string_view, 3> kFactChangeLists = {"add", "update", "remove"};

// Longest printed value a message shows before cutting it short.
constexpr std::size_t kMaxShown = 120;

// The member `key` of a mapping, or nullptr when it is absent or null.
const Json* member(const Json& mapping, std::string_view key) {
  const auto it = mapping.find(key);
  if (it == mapping.end() || it->is_null()) return nullptr;
  return &*it;
}

bool is_sha256_hex(const Json& value) {
  if (!value.is_string()) return false;
  const auto& text = value.get_ref<const std::string&>();
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool is_blank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// UTF-8 characters: every byte but the continuation bytes starts one.
std::size_t character_count(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

bool contains(std::span<const std::string_view> names, std::string_view text) {
  return std::find(names.begin(), names.end(), text) != names.end();
}

// printed_value, cut short so that a huge value cannot flood the terminal.
std::string shown(const Json& value) {
  std::string text = printed_value(value);
  if (text.size() <= kMaxShown) return text;
  std::size_t cut = kMaxShown;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

std::string must_be_one_of(const std::string& field, std::span<const std::string_view> names, const Json& value) {
  return field + " must be one of " + printed_names(names) + ", got: " + shown(value);
}

void check_diff_hash(const Json& doc, FieldReport& report) {
  const bool staged = member(doc, "staged_diff_hash") != nullptr;
  const std::string field = staged || !member(doc, "diff_hash") ? "staged_diff_hash" : "diff_hash";
  const Json* hash = member(doc, field);
  if (!hash) {
    report.errors.push_back("staged_diff_hash is missing; pass --staged-diff-hash with the SHA-256 of the staged diff");
  } else if (!is_sha256_hex(*hash)) {
    report.errors.push_back(
        field + " must be 64 lowercase hexadecimal digits (the SHA-256 of the staged diff), got: " + shown(*hash));
  }
}

void check_timestamp(const Json& doc, FieldReport& report) {
  const Json* timestamp = member(doc, "timestamp");
  if (!timestamp) {
    report.errors.push_back("timestamp is missing; write the UTC time as YYYY-MM-DDTHH:MM:SSZ");
  } else if (!timestamp->is_string()) {
    report.errors.push_back("timestamp must be text such as '2025-01-15T14:30:00Z', got: " + shown(*timestamp));
  } else if (!core::parse_iso8601(timestamp->get_ref<const std::string&>())) {
    report.warnings.push_back("timestamp " + shown(*timestamp) +
                              " is not an ISO 8601 date-time; it is kept as written");
  }
}

void check_agent_model(const Json& doc, FieldReport& report) {
  const Json* model = member(doc, "agent_model");
  if (!model || (model->is_string() && is_blank(model->get_ref<const std::string&>()))) {
    report.errors.push_back("agent_model is missing; pass --model with the model ID (e.g. claude-opus-4-6)");
  } else if (!model->is_string()) {
    report.errors.push_back("agent_model must be text, got: " + shown(*model));
  }
}

void check_summary(const Json& doc, FieldReport& report) {
  const Json* summary = member(doc, "summary");
  if (summary && !summary->is_string()) {
    report.errors.push_back("summary must be text, got: " + shown(*summary));
    return;
  }
  const std::string_view text = summary ? summary->get_ref<const std::string&>() : std::string_view();
  if (is_blank(text)) {
    report.errors.push_back("summary is missing; pass --summary with a one-line impact summary");
  } else if (text.find_first_of("\r\n") != std::string_view::npos) {
    report.errors.push_back("summary must be one line; put further detail in the commit message");
  } else if (character_count(text) > kLongSummary) {
    report.warnings.push_back("summary is " + std::to_string(character_count(text)) +
                              " characters long; keep it to one line of at most " + std::to_string(kLongSummary));
  }
}

void check_optional_text(const Json& doc, std::string_view key, FieldReport& report) {
  const Json* value = member(doc, key);
  if (value && !value->is_string()) {
    report.errors.push_back(std::string(key) + " must be text, got: " + shown(*value));
  }
}

void check_task_type(const Json& doc, FieldReport& report) {
  const Json* task_type = member(doc, "task_type");
  if (task_type && !is_one_of(VALID_TASK_TYPES, *task_type)) {
    report.errors.push_back(must_be_one_of("task_type", VALID_TASK_TYPES, *task_type));
  }
}

void check_provenance(const Json& doc, FieldReport& report) {
  const Json* provenance = member(doc, "provenance");
  if (!provenance) return;
  if (!provenance->is_object()) {
    report.errors.push_back(R"(provenance must be a mapping like {"type": "ticket", "ref": "..."}, got: )" +
                            shown(*provenance));
    return;
  }
  const Json* type = member(*provenance, "type");
  if (!is_one_of(VALID_PROVENANCE_TYPES, type ? *type : Json())) {
    report.errors.push_back(must_be_one_of("provenance.type", VALID_PROVENANCE_TYPES, type ? *type : Json()));
  }
  const Json* ref = member(*provenance, "ref");
  if (ref && !ref->is_string()) {
    report.errors.push_back("provenance.ref must be text, got: " + shown(*ref));
  } else if (!ref && type && (*type == "spec" || *type == "ticket")) {
    report.warnings.push_back("provenance.ref is missing: which " + type->get<std::string>() +
                              " did the request come from?");
  }
}

void check_rules(const Json& doc, FieldReport& report) {
  const Json* rules = member(doc, "rules");
  if (!rules) return;
  if (!rules->is_object()) {
    report.errors.push_back(R"(rules must be a mapping like {"checked": true, "applicable": [...]}, got: )" +
                            shown(*rules));
    return;
  }
  const Json* checked = member(*rules, "checked");
  const Json* applicable = member(*rules, "applicable");
  if (!checked) {
    report.warnings.push_back("rules.checked is missing; say whether the project rules were checked");
  } else if (!checked->is_boolean()) {
    report.errors.push_back("rules.checked must be true or false, got: " + shown(*checked));
  }
  if (applicable && !applicable->is_array()) {
    report.errors.push_back("rules.applicable must be a list, got: " + shown(*applicable));
  } else if (checked && *checked == true && (!applicable || applicable->empty())) {
    report.warnings.push_back("rules.checked is true but rules.applicable is empty; list the rules that apply");
  }
  if (rules->contains("available")) {
    report.warnings.push_back("rules.available is filled in after the commit; leave it out");
  }
}

void check_fact_changes(const Json& element, const std::string& where, FieldReport& report) {
  const Json* facts = member(element, "fact_changes");
  if (!facts) return;
  if (!facts->is_object()) {
    report.errors.push_back(
        where + ".fact_changes must be a mapping with the lists add, update and remove, got: " + shown(*facts));
    return;
  }
  for (const auto& [key, value] : facts->items()) {
    const std::string field = where + ".fact_changes." + key;
    if (!contains(kFactChangeLists, key)) {
      report.warnings.push_back(field + " is not one of add, update, remove; it is kept as written");
    } else if (!value.is_null() && !value.is_array()) {
      report.errors.push_back(field + " must be a list, got: " + shown(value));
    }
  }
}

void check_architecture_element(const Json& element, const std::string& where, FieldReport& report) {
  if (!element.is_object()) {
    report.errors.push_back(where + " must be a mapping with name and change, got: " + shown(element));
    return;
  }
  const Json* name = member(element, "name");
  if (!name || !name->is_string() || is_blank(name->get_ref<const std::string&>())) {
    report.errors.push_back(where + ".name is missing; name the element that changed");
  }
  const Json* change = member(element, "change");
  if (!is_one_of(ARCHITECTURE_CHANGE_KINDS, change ? *change : Json())) {
    report.errors.push_back(must_be_one_of(where + ".change", ARCHITECTURE_CHANGE_KINDS, change ? *change : Json()));
  }
  const Json* description = member(element, "description");
  if (description && !description->is_string()) {
    report.errors.push_back(where + ".description must be text, got: " + shown(*description));
  }
  check_fact_changes(element, where, report);
}

void check_architecture(const Json& architecture, FieldReport& report) {
  const Json* elements = architecture.is_object() ? member(architecture, "elements") : nullptr;
  if (!elements || !elements->is_array()) {
    report.errors.push_back(
        R"(changes.architecture must be a mapping with an elements list: {"elements": [{"name": "...", "change": "added"}]})");
    return;
  }
  if (elements->empty()) {
    report.warnings.push_back("changes.architecture.elements is empty; leave architecture out when no element changed");
  }
  for (std::size_t i = 0; i < elements->size(); ++i) {
    check_architecture_element((*elements)[i], "changes.architecture.elements[" + std::to_string(i) + "]", report);
  }
}

void check_changes(const Json& doc, FieldReport& report) {
  const Json* changes = member(doc, "changes");
  if (!changes) return;
  if (!changes->is_object()) {
    report.errors.push_back("changes must be a mapping from change primitive to its changes, got: " + shown(*changes));
    return;
  }
  for (const auto& [key, value] : changes->items()) {
    if (key == "architecture") {
      check_architecture(value, report);
    } else if (!contains(V2_PRIMITIVES, key)) {
      report.warnings.push_back("changes member " + shown(key) + " is not one of " + printed_names(V2_PRIMITIVES) +
                                "; it is kept as written");
    }
  }
}

void check_environmental_fields(const Json& doc, FieldReport& report) {
  for (std::string_view key : kEnvironmentalFields) {
    if (doc.contains(key)) {
      report.warnings.push_back(std::string(key) + " is filled in after the commit; leave it out");
    }
  }
}

void check_unknown_fields(const Json& doc, FieldReport& report) {
  for (const auto& [key, value] : doc.items()) {
    if (!contains(kKnownFields, key)) {
      report.warnings.push_back("unknown field " + shown(key) + " is kept as written; check its spelling");
    }
  }
}

}  // namespace

bool is_one_of(std::span<const std::string_view> names, const Json& value) {
  if (!value.is_string()) return false;
  return contains(names, value.get_ref<const std::string&>());
}

std::string quoted_text(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\'':
        out += "\\'";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "'";
}

std::string printed_names(std::span<const std::string_view> names) {
  std::string out = "[";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ", ";
    out += quoted_text(names[i]);
  }
  return out + "]";
}

std::string printed_value(const Json& value) {
  if (value.is_null()) return "None";
  if (value.is_boolean()) return value.get<bool>() ? "True" : "False";
  if (value.is_string()) return quoted_text(value.get_ref<const std::string&>());
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

FieldReport validate_attestation_fields(const Json& parsed) {
  FieldReport report;
  if (!parsed.is_object()) {
    report.errors.push_back("the attestation must be a mapping of fields; see `tamrik attest --example`");
    return report;
  }
  check_diff_hash(parsed, report);
  check_timestamp(parsed, report);
  check_agent_model(parsed, report);
  for (std::string_view key : {"agent", "agent_provider", "agent_id"}) check_optional_text(parsed, key, report);
  check_provenance(parsed, report);
  check_task_type(parsed, report);
  check_rules(parsed, report);
  check_changes(parsed, report);
  check_summary(parsed, report);
  check_environmental_fields(parsed, report);
  check_unknown_fields(parsed, report);
  return report;
}

}  // namespace tamrik::services::shared
