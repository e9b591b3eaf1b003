#pragma once
// The fields of an attestation document: the names some of them may take, how
// messages print a name or a value, and the checks a document passes before
// it is written as the pending attestation.

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.hpp"

namespace tamrik::services::shared {

using core::Json;

// What kind of change a commit is; the same six kinds commit subjects and
// branch prefixes are classified into.
inline constexpr std::array<std::string_view, 6> VALID_TASK_TYPES = {"feature", "bug-fix", "refactor",
                                                                     "docs",    "test",    "chore"};

// Where the request for a change came from: a written spec, a ticket, a bug
// report, or a request made on the spot. An ordered list; messages print it
// as ['spec', 'ticket', 'bug-fix', 'ad-hoc'] (see printed_names).
inline constexpr std::array<std::string_view, 4> VALID_PROVENANCE_TYPES = {"spec", "ticket", "bug-fix", "ad-hoc"};

// The change primitives an attestation's `changes` mapping may name, in the
// order they are written:
//   architecture   components added, modified or removed, each with the facts
//                  about the system it adds, updates or removes
//   data_model     stored schemas, entities and migrations
//   api            interfaces that other code or services call
//   dependencies   third-party packages and services added, upgraded, removed
//   configuration  settings, environment variables and feature flags
// Only `architecture` has a fixed inner structure; the others are free-form.
inline constexpr std::array<std::string_view, 5> V2_PRIMITIVES = {"architecture", "data_model", "api", "dependencies",
                                                                  "configuration"};

// The `change` of an element of the architecture primitive.
inline constexpr std::array<std::string_view, 3> ARCHITECTURE_CHANGE_KINDS = {"added", "modified", "removed"};

// True when `value` is text equal to one of `names`.
bool is_one_of(std::span<const std::string_view> names, const Json& value);

// Text as messages quote it: in single quotes, with backslash, quote, tab and
// line breaks escaped ('it\'s').
std::string quoted_text(std::string_view text);

// A collection as messages print it: ['spec', 'ticket', 'bug-fix', 'ad-hoc'].
std::string printed_names(std::span<const std::string_view> names);

// A value as messages print it: text quoted, null as None, booleans as True
// and False, numbers as written, lists and mappings as compact JSON.
std::string printed_value(const Json& value);

// Characters (not bytes) beyond which a summary no longer reads as one line.
inline constexpr std::size_t kLongSummary = 200;

struct FieldReport {
  std::vector<std::string> errors;    // the document must not be written
  std::vector<std::string> warnings;  // unusual, but the document may be written
};

// Checks a complete attestation document as an agent writes it. A key whose
// value is null counts as absent.
//
// Errors:
// - the document is not a mapping (nothing else is checked then);
// - `staged_diff_hash` (or, when it is absent, `diff_hash`) missing, or not
//   64 lowercase hexadecimal digits;
// - `timestamp` missing or not text;
// - `agent_model` missing, empty or not text;
// - `summary` missing, empty or blank, not text, or more than one line;
// - `agent`, `agent_provider`, `agent_id` present but not text;
// - `task_type` present but not one of VALID_TASK_TYPES;
// - `provenance` not a mapping, its `type` not one of VALID_PROVENANCE_TYPES,
//   its `ref` present but not text;
// - `rules` not a mapping, `rules.checked` present but not a boolean,
//   `rules.applicable` present but not a list;
// - `changes` not a mapping; `changes.architecture` not a mapping with an
//   `elements` list; an element that is not a mapping, has no non-empty text
//   `name`, has a `change` outside ARCHITECTURE_CHANGE_KINDS, a `description`
//   that is not text, or `fact_changes` that is not a mapping whose `add`,
//   `update` and `remove` are lists.
//
// Warnings:
// - `timestamp` text that does not read as an ISO 8601 date-time (the command
//   takes --timestamp verbatim, so such a value is kept as written);
// - `summary` longer than kLongSummary characters;
// - `provenance` of type spec or ticket without a `ref`;
// - `rules` without `checked`; `rules.checked` true with no applicable rule;
// - fields filled in after the commit written by the agent: `developer`,
//   `agent_session_id`, `telemetry`, `rules.available`;
// - a `changes` member outside V2_PRIMITIVES; an empty architecture
//   `elements` list; a `fact_changes` member other than add, update, remove;
// - a top-level field no part of tamrik reads (a misspelt name, most often).
FieldReport validate_attestation_fields(const Json& parsed);

}  // namespace tamrik::services::shared
