#include "host/services/attestation_fields.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/yaml.hpp"
#include "host/hooks/scripts.hpp"

namespace tamrik::services::shared {
namespace {

using ::testing::PrintToString;

Json valid_document() {
  return Json{
      {"staged_diff_hash", "50d858e0985ecc7f60418aaf0cc5ab587f42c2570a884095a9e8ccacd0f6545c"},
      {"timestamp", "2025-01-15T14:30:00Z"},
      {"agent_model", "claude-opus-4-6"},
      {"summary", "Rate-limit the public API per API key"},
  };
}

Json with(std::function<void(Json&)> change) {
  Json document = valid_document();
  change(document);
  return document;
}

// The text between the opening and the closing "---" line.
std::string between_delimiters(std::string_view text) {
  EXPECT_TRUE(text.starts_with("---\n")) << text;
  EXPECT_TRUE(text.ends_with("\n---\n")) << text;
  if (text.size() < 8) return "";
  return std::string(text.substr(4, text.size() - 8));
}

TEST(ExampleAttestation, IsAFramedDocumentThatPassesTheValidatorCleanly) {
  const Json example = core::load_yaml(between_delimiters(hooks::scripts::example_attestation()));

  const auto [errors, warnings] = validate_attestation_fields(example);
  EXPECT_TRUE(errors.empty()) << PrintToString(errors);
  EXPECT_TRUE(warnings.empty()) << PrintToString(warnings);

  std::vector<std::string> keys;
  for (const auto& [key, value] : example.items()) keys.push_back(key);
  const std::vector<std::string> expected = {"staged_diff_hash", "timestamp",  "agent_model", "agent",
                                             "agent_provider",   "provenance", "task_type",   "rules",
                                             "changes",          "summary"};
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(example["timestamp"], "2025-01-15T14:30:00Z");
}

TEST(ExampleAttestation, NamesEveryTypeAndPrimitiveAnAgentMayWrite) {
  const std::string_view example = hooks::scripts::example_attestation();
  for (auto names :
       {std::span<const std::string_view>(VALID_TASK_TYPES), std::span<const std::string_view>(VALID_PROVENANCE_TYPES),
        std::span<const std::string_view>(V2_PRIMITIVES)}) {
    for (std::string_view name : names) EXPECT_NE(example.find(name), std::string_view::npos) << name;
  }
}

TEST(PrintedForms, MatchTheMessagesTheyAppearIn) {
  EXPECT_EQ(printed_names(VALID_PROVENANCE_TYPES), "['spec', 'ticket', 'bug-fix', 'ad-hoc']");
  EXPECT_EQ(V2_PRIMITIVES.front(), "architecture");

  EXPECT_EQ(printed_value(Json()), "None");
  EXPECT_EQ(printed_value(Json(true)), "True");
  EXPECT_EQ(printed_value(Json(1.5)), "1.5");
  EXPECT_EQ(printed_value(Json("it's a\\b\nc")), R"('it\'s a\\b\nc')");
  EXPECT_EQ(printed_value(Json::array({"a", 1})), R"(["a",1])");
}

TEST(ValidateAttestationFields, AcceptsTheFourAlwaysWrittenFieldsAlone) {
  const auto [errors, warnings] = validate_attestation_fields(valid_document());
  EXPECT_TRUE(errors.empty()) << PrintToString(errors);
  EXPECT_TRUE(warnings.empty()) << PrintToString(warnings);
}

TEST(ValidateAttestationFields, AcceptsDiffHashInPlaceOfStagedDiffHash) {
  const Json document = with([](Json& d) {
    d["diff_hash"] = d["staged_diff_hash"];
    d.erase("staged_diff_hash");
  });
  const auto errors = validate_attestation_fields(document).errors;
  EXPECT_TRUE(errors.empty()) << PrintToString(errors);
}

TEST(ValidateAttestationFields, RefusesSomethingOtherThanAMapping) {
  for (const Json& document : {Json(), Json::array({1, 2}), Json("summary: x")}) {
    const auto report = validate_attestation_fields(document);
    ASSERT_EQ(report.errors.size(), 1u);
    EXPECT_EQ(report.errors[0], "the attestation must be a mapping of fields; see `tamrik attest --example`");
  }
}

struct BrokenField {
  const char* what;
  std::function<void(Json&)> change;
  std::string error;
};

TEST(ValidateAttestationFields, ReportsEachBrokenFieldOnceWithWhatToDo) {
  const std::vector<BrokenField> cases = {
      {"no hash", [](Json& d) { d.erase("staged_diff_hash"); },
       "staged_diff_hash is missing; pass --staged-diff-hash with the SHA-256 of the staged diff"},
      {"upper-case hash", [](Json& d) { d["staged_diff_hash"] = std::string(64, 'A'); },
       "staged_diff_hash must be 64 lowercase hexadecimal digits (the SHA-256 of the staged diff), got: "
       "'AAAA"},
      {"short hash", [](Json& d) { d["staged_diff_hash"] = std::string(63, 'a'); }, "staged_diff_hash must be 64"},
      {"bad diff_hash",
       [](Json& d) {
         d.erase("staged_diff_hash");
         d["diff_hash"] = "xyz";
       },
       "diff_hash must be 64 lowercase hexadecimal digits (the SHA-256 of the staged diff), got: 'xyz'"},
      {"no timestamp", [](Json& d) { d.erase("timestamp"); },
       "timestamp is missing; write the UTC time as YYYY-MM-DDTHH:MM:SSZ"},
      {"numeric timestamp", [](Json& d) { d["timestamp"] = 20250115; },
       "timestamp must be text such as '2025-01-15T14:30:00Z', got: 20250115"},
      {"no model", [](Json& d) { d.erase("agent_model"); }, "agent_model is missing; pass --model"},
      {"no summary", [](Json& d) { d.erase("summary"); },
       "summary is missing; pass --summary with a one-line impact summary"},
      {"blank summary", [](Json& d) { d["summary"] = "  \t"; }, "summary is missing"},
      {"two-line summary", [](Json& d) { d["summary"] = "Fix it\nand more"; },
       "summary must be one line; put further detail in the commit message"},
      {"numeric summary", [](Json& d) { d["summary"] = 42; }, "summary must be text, got: 42"},
      {"numeric agent", [](Json& d) { d["agent"] = 7; }, "agent must be text, got: 7"},
      {"unknown task type", [](Json& d) { d["task_type"] = "Feature"; },
       "task_type must be one of ['feature', 'bug-fix', 'refactor', 'docs', 'test', 'chore'], got: "
       "'Feature'"},
      {"text provenance", [](Json& d) { d["provenance"] = "ticket"; },
       R"(provenance must be a mapping like {"type": "ticket", "ref": "..."}, got: 'ticket')"},
      {"provenance without type",
       [](Json& d) {
         d["provenance"] = {{"ref", "PROJ-1"}};
       },
       "provenance.type must be one of ['spec', 'ticket', 'bug-fix', 'ad-hoc'], got: None"},
      {"unknown provenance type",
       [](Json& d) {
         d["provenance"] = {{"type", "epic"}, {"ref", "E-1"}};
       },
       "provenance.type must be one of ['spec', 'ticket', 'bug-fix', 'ad-hoc'], got: 'epic'"},
      {"rules list", [](Json& d) { d["rules"] = Json::array({"r1"}); }, "rules must be a mapping like"},
      {"rules.checked text",
       [](Json& d) {
         d["rules"] = {{"checked", "yes"}, {"applicable", {"r1"}}};
       },
       "rules.checked must be true or false, got: 'yes'"},
      {"rules.applicable text",
       [](Json& d) {
         d["rules"] = {{"checked", false}, {"applicable", "r1"}};
       },
       "rules.applicable must be a list, got: 'r1'"},
      {"changes list", [](Json& d) { d["changes"] = Json::array(); }, "changes must be a mapping"},
      {"architecture without elements",
       [](Json& d) {
         d["changes"] = {{"architecture", Json::object()}};
       },
       "changes.architecture must be a mapping with an elements list"},
      {"element not a mapping",
       [](Json& d) { d["changes"]["architecture"]["elements"] = Json::array({"RateLimiter"}); },
       "changes.architecture.elements[0] must be a mapping with name and change, got: 'RateLimiter'"},
      {"element without name",
       [](Json& d) {
         d["changes"]["architecture"]["elements"] = Json::array({{{"change", "added"}}});
       },
       "changes.architecture.elements[0].name is missing; name the element that changed"},
      {"unknown change kind",
       [](Json& d) {
         d["changes"]["architecture"]["elements"] =
             Json::array({{{"name", "A"}, {"change", "added"}}, {{"name", "B"}, {"change", "renamed"}}});
       },
       "changes.architecture.elements[1].change must be one of ['added', 'modified', 'removed'], got: "
       "'renamed'"},
      {"fact list as text",
       [](Json& d) {
         d["changes"]["architecture"]["elements"] =
             Json::array({{{"name", "A"}, {"change", "removed"}, {"fact_changes", {{"add", "fact"}}}}});
       },
       "changes.architecture.elements[0].fact_changes.add must be a list, got: 'fact'"},
  };
  for (const auto& c : cases) {
    const auto [errors, warnings] = validate_attestation_fields(with(c.change));
    ASSERT_EQ(errors.size(), 1u) << c.what << ": " << PrintToString(errors);
    EXPECT_TRUE(errors[0].starts_with(c.error)) << c.what << ": " << errors[0];
  }
}

struct UnusualField {
  const char* what;
  std::function<void(Json&)> change;
  std::string warning;
};

TEST(ValidateAttestationFields, WarnsAboutTheMerelyUnusualWithoutFailing) {
  const std::vector<UnusualField> cases = {
      {"free-form timestamp", [](Json& d) { d["timestamp"] = "yesterday"; },
       "timestamp 'yesterday' is not an ISO 8601 date-time; it is kept as written"},
      {"long summary", [](Json& d) { d["summary"] = std::string(kLongSummary + 1, 'x'); },
       "summary is 201 characters long; keep it to one line of at most 200"},
      {"spec without ref",
       [](Json& d) {
         d["provenance"] = {{"type", "spec"}};
       },
       "provenance.ref is missing: which spec did the request come from?"},
      {"rules without checked",
       [](Json& d) {
         d["rules"] = {{"applicable", {"r1"}}};
       },
       "rules.checked is missing; say whether the project rules were checked"},
      {"checked with nothing applicable",
       [](Json& d) {
         d["rules"] = {{"checked", true}, {"applicable", Json::array()}};
       },
       "rules.checked is true but rules.applicable is empty; list the rules that apply"},
      {"rules.available",
       [](Json& d) {
         d["rules"] = {{"checked", false}, {"available", 4}};
       },
       "rules.available is filled in after the commit; leave it out"},
      {"developer", [](Json& d) { d["developer"] = "dev@example.com"; },
       "developer is filled in after the commit; leave it out"},
      {"unknown primitive",
       [](Json& d) {
         d["changes"] = {{"security", "none"}};
       },
       "changes member 'security' is not one of ['architecture', 'data_model', 'api', 'dependencies', "
       "'configuration']; it is kept as written"},
      {"no elements",
       [](Json& d) {
         d["changes"] = {{"architecture", {{"elements", Json::array()}}}};
       },
       "changes.architecture.elements is empty; leave architecture out when no element changed"},
      {"unknown fact list",
       [](Json& d) {
         d["changes"]["architecture"]["elements"] =
             Json::array({{{"name", "A"}, {"change", "added"}, {"fact_changes", {{"rename", Json::array()}}}}});
       },
       "changes.architecture.elements[0].fact_changes.rename is not one of add, update, remove"},
      {"misspelt field", [](Json& d) { d["summry"] = "x"; },
       "unknown field 'summry' is kept as written; check its spelling"},
  };
  for (const auto& c : cases) {
    const auto [errors, warnings] = validate_attestation_fields(with(c.change));
    EXPECT_TRUE(errors.empty()) << c.what << ": " << PrintToString(errors);
    ASSERT_EQ(warnings.size(), 1u) << c.what << ": " << PrintToString(warnings);
    EXPECT_TRUE(warnings[0].starts_with(c.warning)) << c.what << ": " << warnings[0];
  }
}

TEST(ValidateAttestationFields, CountsSummaryLengthInCharactersNotBytes) {
  std::string summary;
  for (std::size_t i = 0; i < kLongSummary; ++i) summary += "\xC3\xA9";  // é, two bytes
  const auto warnings = validate_attestation_fields(with([&](Json& d) { d["summary"] = summary; })).warnings;
  EXPECT_TRUE(warnings.empty()) << PrintToString(warnings);
}

TEST(ValidateAttestationFields, ReportsEveryErrorInDocumentOrder) {
  const Json document = {{"staged_diff_hash", "nope"}, {"task_type", "misc"}, {"summary", ""}};
  const auto errors = validate_attestation_fields(document).errors;
  ASSERT_EQ(errors.size(), 5u) << PrintToString(errors);
  EXPECT_TRUE(errors[0].starts_with("staged_diff_hash"));
  EXPECT_TRUE(errors[1].starts_with("timestamp"));
  EXPECT_TRUE(errors[2].starts_with("agent_model"));
  EXPECT_TRUE(errors[3].starts_with("task_type"));
  EXPECT_TRUE(errors[4].starts_with("summary"));
}

TEST(ValidateAttestationFields, CutsHugeValuesShortInMessages) {
  const Json document = with([](Json& d) {
    d["rules"] = Json::array();
    for (int i = 0; i < 10000; ++i) d["rules"].push_back("r\xC3\xA9gle-" + std::to_string(i));
  });
  const auto errors = validate_attestation_fields(document).errors;
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_LT(errors[0].size(), 300u);
  EXPECT_TRUE(errors[0].ends_with("...")) << errors[0];
}

}  // namespace
}  // namespace tamrik::services::shared
