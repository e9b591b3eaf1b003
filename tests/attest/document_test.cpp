#include "attest/document.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "host/services/attestation_fields.hpp"
#include "support/test_env.hpp"

namespace tamrik::attest {
namespace {

using testing::read_text;
using testing::TempDir;
using testing::write_text;

const std::string kHash = "50d858e0985ecc7f60418aaf0cc5ab587f42c2570a884095a9e8ccacd0f6545c";

AttestFlags required_flags() {
  return {.staged_diff_hash = kHash, .model = "claude-opus-4-6", .summary = "Rate-limit the public API"};
}

AttestFlags every_flag() {
  return {.staged_diff_hash = kHash,
          .timestamp = "2025-01-15T14:30:00Z",
          .model = "claude-opus-4-6",
          .agent = "claude-code",
          .provider = "anthropic",
          .agent_id = "agent-7",
          .provenance = R"({"type": "ticket", "ref": "PROJ-142"})",
          .task_type = "feature",
          .rules = R"({"checked": true, "applicable": ["api-errors"]})",
          .arch_changes = R"({"architecture": {"elements": [{"name": "RateLimiter", "change": "added"}]}})",
          .summary = "Rate-limit the public API"};
}

std::vector<std::string> keys_of(const Json& mapping) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : mapping.items()) keys.push_back(key);
  return keys;
}

// The message build_attestation_document stops with, or "" when it builds.
std::string build_error(const AttestFlags& flags) {
  try {
    build_attestation_document(flags);
  } catch (const AttestationInputError& e) {
    EXPECT_EQ(e.class_name(), "AttestationInputError");
    return e.what();
  }
  return "";
}

std::string decoder_description(const std::string& text) {
  try {
    core::parse_json_or_throw(text);
  } catch (const core::JSONDecodeError& e) {
    return e.what();
  }
  ADD_FAILURE() << text << " decoded";
  return "";
}

// The YAML between the pending file's two "---" lines.
std::string between_delimiters(const std::string& text) {
  EXPECT_TRUE(text.starts_with("---\n")) << text;
  EXPECT_TRUE(text.ends_with("\n---\n")) << text;
  if (text.size() < 8) return "";
  return text.substr(4, text.size() - 8);
}

Json written_back(const Json& document) {
  TempDir repo;
  const auto file = write_pending_attestation(repo.path(), document);
  return core::load_yaml(between_delimiters(read_text(file)));
}

TEST(BuildAttestationDocument, WritesKeysInTheDocumentedOrder) {
  const Json document = build_attestation_document(every_flag());
  const std::vector<std::string> expected = {"staged_diff_hash", "timestamp",  "agent_model", "agent", "agent_provider",
                                             "agent_id",         "provenance", "task_type",   "rules", "changes",
                                             "summary"};
  EXPECT_EQ(keys_of(document), expected);
  EXPECT_EQ(keys_of(written_back(document)), expected);
}

TEST(BuildAttestationDocument, KeyOrderDoesNotDependOnTheOrderFlagsArrive) {
  // Fill the flags the way a command line given them back to front would.
  AttestFlags reversed;
  reversed.summary = "Rate-limit the public API";
  reversed.arch_changes = every_flag().arch_changes;
  reversed.rules = every_flag().rules;
  reversed.task_type = "feature";
  reversed.provenance = every_flag().provenance;
  reversed.agent_id = "agent-7";
  reversed.provider = "anthropic";
  reversed.agent = "claude-code";
  reversed.model = "claude-opus-4-6";
  reversed.timestamp = "2025-01-15T14:30:00Z";
  reversed.staged_diff_hash = kHash;

  EXPECT_EQ(render_pending_attestation(build_attestation_document(reversed)),
            render_pending_attestation(build_attestation_document(every_flag())));
}

TEST(BuildAttestationDocument, WithOnlyTheRequiredFlagsHoldsFourKeys) {
  TempDir repo;
  const auto file = write_pending_attestation(repo.path(), build_attestation_document(required_flags()));
  const std::string text = read_text(file);
  const std::string yaml = between_delimiters(text);

  const std::regex four_lines("staged_diff_hash: [^\n]+\ntimestamp: [^\n]+\nagent_model: [^\n]+\nsummary: [^\n]+\n");
  EXPECT_TRUE(std::regex_match(yaml, four_lines)) << text;
  EXPECT_EQ(keys_of(core::load_yaml(yaml)),
            (std::vector<std::string>{"staged_diff_hash", "timestamp", "agent_model", "summary"}));
}

TEST(BuildAttestationDocument, LeavesOutEmptyOptionalTextFlags) {
  AttestFlags flags = required_flags();
  flags.agent = "";
  flags.provider = "";
  flags.agent_id = "";
  flags.task_type = "";
  flags.rules = "";
  flags.arch_changes = "";
  flags.provenance = "";
  EXPECT_EQ(keys_of(build_attestation_document(flags)),
            (std::vector<std::string>{"staged_diff_hash", "timestamp", "agent_model", "summary"}));
}

TEST(BuildAttestationDocument, TimestampIsNowUnlessGivenAndThenVerbatim) {
  const std::regex utc_seconds(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)");
  AttestFlags flags = required_flags();
  EXPECT_TRUE(std::regex_match(build_attestation_document(flags)["timestamp"].get<std::string>(), utc_seconds));

  flags.timestamp = "";
  EXPECT_TRUE(std::regex_match(build_attestation_document(flags)["timestamp"].get<std::string>(), utc_seconds));

  flags.timestamp = "yesterday";
  EXPECT_EQ(build_attestation_document(flags)["timestamp"], "yesterday");
}

TEST(BuildAttestationDocument, KeepsRulesOnlyWhenTheirValueIsSet) {
  AttestFlags flags = required_flags();
  for (const char* unset : {"{}", "false", "[]", "\"\"", "0", "null"}) {
    flags.rules = unset;
    EXPECT_FALSE(build_attestation_document(flags).contains("rules")) << unset;
  }
  flags.rules = R"({"checked": true, "applicable": []})";
  const Json document = build_attestation_document(flags);
  EXPECT_EQ(document["rules"], (Json{{"checked", true}, {"applicable", Json::array()}}));
  EXPECT_EQ(written_back(document)["rules"], document["rules"]);
}

TEST(BuildAttestationDocument, CopiesOnlyKnownChangePrimitivesInTheirOwnOrder) {
  AttestFlags flags = required_flags();
  flags.arch_changes = R"({"security": {"x": 1}, "api": ["GET /limits"], "architecture": {"elements": []}})";
  const Json changes = build_attestation_document(flags)["changes"];
  EXPECT_EQ(keys_of(changes), (std::vector<std::string>{"architecture", "api"}));
  EXPECT_EQ(changes["api"], Json::array({"GET /limits"}));

  flags.arch_changes = R"({"security": {"x": 1}})";
  EXPECT_EQ(build_attestation_document(flags)["changes"], Json::object());

  for (const char* unset : {"{}", "false", "[]", "null", "0", "\"\""}) {
    flags.arch_changes = unset;
    EXPECT_FALSE(build_attestation_document(flags).contains("changes")) << unset;
  }
}

TEST(BuildAttestationDocument, KeepsProvenanceMembersUnchanged) {
  AttestFlags flags = required_flags();
  flags.provenance = R"({"type": "spec", "ref": "rate-limits", "change_specs": ["rate-limits"], "n": 2})";
  const Json provenance = build_attestation_document(flags)["provenance"];
  EXPECT_EQ(provenance.dump(), R"({"type":"spec","ref":"rate-limits","change_specs":["rate-limits"],"n":2})");
}

TEST(BuildAttestationDocument, ReportsMalformedJsonFlagsWithTheDecoderDescription) {
  AttestFlags flags = required_flags();
  flags.rules = "{checked: true}";
  EXPECT_EQ(build_error(flags), "Invalid --rules JSON: " + decoder_description("{checked: true}"));

  flags = required_flags();
  flags.arch_changes = "{\"architecture\": ";
  EXPECT_EQ(build_error(flags), "Invalid --arch-changes JSON: " + decoder_description("{\"architecture\": "));

  flags = required_flags();
  flags.provenance = "ticket";
  EXPECT_EQ(build_error(flags), "Invalid --provenance JSON: " + decoder_description("ticket"));
}

TEST(BuildAttestationDocument, ChecksTheJsonFlagsInOrderAndStopsAtTheFirstFailure) {
  AttestFlags flags = required_flags();
  flags.rules = "[";
  flags.arch_changes = "[";
  flags.provenance = "[";
  EXPECT_TRUE(build_error(flags).starts_with("Invalid --rules JSON: "));
  flags.rules.reset();
  EXPECT_TRUE(build_error(flags).starts_with("Invalid --arch-changes JSON: "));
  flags.arch_changes = "[1]";
  EXPECT_EQ(build_error(flags), "--arch-changes must be a JSON object, got: list");
  flags.arch_changes.reset();
  EXPECT_TRUE(build_error(flags).starts_with("Invalid --provenance JSON: "));
}

TEST(BuildAttestationDocument, NamesTheTypeOfANonObjectFlagValue) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[]", "list"},   {"\"spec\"", "str"}, {"-3", "int"},        {"1.5", "float"},
      {"1e3", "float"}, {"true", "bool"},    {"null", "NoneType"},
  };
  for (const auto& [value, type] : cases) {
    AttestFlags flags = required_flags();
    flags.provenance = value;
    EXPECT_EQ(build_error(flags), "--provenance must be a JSON object, got: " + type) << value;
  }
  for (const char* value : {"[1]", "\"text\"", "7", "true"}) {
    AttestFlags flags = required_flags();
    flags.arch_changes = value;
    EXPECT_TRUE(build_error(flags).starts_with("--arch-changes must be a JSON object, got: ")) << value;
  }
}

TEST(BuildAttestationDocument, RequiresAKnownProvenanceType) {
  const std::string prefix = "provenance.type must be one of ['spec', 'ticket', 'bug-fix', 'ad-hoc'], got: ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{}", "None"},
      {R"({"ref": "PROJ-1"})", "None"},
      {R"({"type": null})", "None"},
      {R"({"type": "epic"})", "'epic'"},
      {R"({"type": "Spec"})", "'Spec'"},
      {R"({"type": 3})", "3"},
  };
  for (const auto& [value, shown] : cases) {
    AttestFlags flags = required_flags();
    flags.provenance = value;
    EXPECT_EQ(build_error(flags), prefix + shown) << value;
  }
  AttestFlags flags = required_flags();
  flags.provenance = R"({"type": "spec"})";
  EXPECT_EQ(build_attestation_document(flags)["provenance"], (Json{{"type", "spec"}}));
}

TEST(BuildAttestationDocument, RefusesADocumentOverTheSizeCapNamingItsLargestField) {
  AttestFlags flags = required_flags();
  flags.summary = "s";
  const size_t base = render_pending_attestation(build_attestation_document(flags)).size();
  flags.summary = std::string(MAX_ATTESTATION_BYTES - base + 1, 's');
  EXPECT_EQ(render_pending_attestation(build_attestation_document(flags)).size(), MAX_ATTESTATION_BYTES);

  flags.rules = Json{{"checked", true}, {"applicable", {std::string(100, 'r')}}}.dump();
  const std::string refused = build_error(flags);
  EXPECT_TRUE(refused.starts_with("The attestation is ")) << refused.substr(0, 300);
  EXPECT_NE(refused.find(" bytes of YAML, over the limit of 1048576 bytes; its largest field is `summary`."),
            std::string::npos)
      << refused.substr(0, 300);
  EXPECT_NE(refused.find("Keep --summary to one line"), std::string::npos);
}

TEST(BuildAttestationDocument, BuildsWhatTheValidatorAccepts) {
  const auto report = services::shared::validate_attestation_fields(build_attestation_document(every_flag()));
  EXPECT_TRUE(report.errors.empty()) << ::testing::PrintToString(report.errors);
}

TEST(PendingAttestation, RoundTripsTextAYamlReaderWouldTakeForSomethingElse) {
  const std::vector<std::string> tricky = {
      "2024-05-01T10:00:00Z",
      "2024-05-01",
      "0123",
      "123",
      "1e3",
      "0x1F",
      ".5",
      "true",
      "False",
      "null",
      "~",
      "yes",
      "No",
      "on",
      "OFF",
      "key: value",
      "- leading dash",
      "# not a comment",
      "trailing #",
      "'single'",
      "\"double\"",
      "[list]",
      "{map}",
      "*alias",
      "&anchor",
      "!tag",
      "%directive",
      "@at",
      "`tick",
      "| block",
      "> folded",
      "?",
      "  padded  ",
      "",
      "Ünïcødé ✓ 日本語 🚀",
      "tab\there",
      "line one\nline two",
      "...",
      "---",
      "\\backslash",
  };
  for (const std::string& value : tricky) {
    AttestFlags flags = required_flags();
    flags.model = value;
    flags.summary = value;
    flags.timestamp = value.empty() ? "2024-05-01T10:00:00Z" : value;
    flags.agent = value;
    flags.task_type = value;
    flags.provenance = Json{{"type", "ad-hoc"}, {"ref", value}}.dump();
    flags.rules = Json{{"checked", true}, {"applicable", {value}}}.dump();
    const Json document = build_attestation_document(flags);
    EXPECT_EQ(written_back(document), document) << value;
  }
}

TEST(PendingAttestation, WritesJsonScalarsAsYamlScalars) {
  AttestFlags flags = required_flags();
  flags.rules = R"({"checked": false, "applicable": ["a"], "count": 3, "ratio": 0.5, "note": null})";
  TempDir repo;
  const auto file = write_pending_attestation(repo.path(), build_attestation_document(flags));
  const std::string text = read_text(file);
  EXPECT_NE(text.find("checked: false\n"), std::string::npos) << text;
  EXPECT_NE(text.find("count: 3\n"), std::string::npos) << text;
  const Json rules = core::load_yaml(between_delimiters(text))["rules"];
  EXPECT_EQ(rules, core::parse_json_or_throw(*flags.rules));
}

TEST(PendingAttestation, MultiLineSummaryRoundTripsButFailsValidation) {
  AttestFlags flags = required_flags();
  flags.summary = "Rate-limit the API\n\nDetails: per key";
  const Json document = build_attestation_document(flags);
  EXPECT_EQ(written_back(document)["summary"], flags.summary);
  const auto errors = services::shared::validate_attestation_fields(document).errors;
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].starts_with("summary must be one line"));
}

TEST(PendingAttestation, IsWrittenWholeAtItsPathReplacingAnEarlierFile) {
  TempDir repo;
  AttestFlags flags = required_flags();
  flags.timestamp = "2025-01-15T14:30:00Z";
  const Json document = build_attestation_document(flags);
  EXPECT_EQ(write_pending_attestation(repo.path(), document), paths::commit_attestation(repo.path()));

  write_text(paths::commit_attestation(repo.path()), "---\nsummary: older and longer than the new one\n---\n");
  write_pending_attestation(repo.path(), document);
  EXPECT_EQ(read_text(paths::commit_attestation(repo.path())), render_pending_attestation(document));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(paths::tamrik_dir(repo.path()))) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{".commit-attestation.yaml"});
}

}  // namespace
}  // namespace tamrik::attest
