// The quick reading of ledger lines agrees with the full parser wherever it
// reads a line, and reads the lines the writers write.

#include "synccore/record_scan.hpp"

#include <gtest/gtest.h>

#include "core/json.hpp"

namespace tamrik::synccore {
namespace {

using core::Json;

std::string summary_of(const RecordView& view) {
  const auto text = [](const std::optional<TokenCounts>& tokens) {
    return tokens ? std::to_string(tokens->input) + "/" + std::to_string(tokens->output) + "/" +
                        std::to_string(tokens->cache)
                  : std::string("none");
  };
  return view.commit + "|" + view.branch + "|" + view.timestamp + "|" + (view.time ? std::to_string(*view.time) : "-") +
         "|" + view.agent + "|" + view.model + "|" + view.developer + "|" + view.summary + "|" +
         std::string(kind_name(view.kind)) + "|" + std::string(upload_name(view.upload)) + "|" + text(view.tokens);
}

TEST(RecordScan, AgreesWithTheFullParserAndReadsWhatTheWritersWrite) {
  const detail::SyncedJournal journal = detail::SyncedJournal::read("/nonexistent/tamrik/log.jsonl");
  const std::string hash(40, 'c');
  // As the writers write them: these must take the quick path.
  const std::vector<Json> written = {
      {{"commit", hash},
       {"branch", "main"},
       {"timestamp", "2026-05-01T10:00:00Z"},
       {"agent", "codex"},
       {"summary", "say \"hi\"\\ \t/ done"},
       {"synced", false},
       {"agent_provider", "openai"},
       {"developer", {{"git_author_name", "Dana"}, {"git_author_email", "d@example.com"}}},
       {"telemetry",
        {{"session_id", "s"},
         {"model", "m"},
         {"tokens", {{"input", 5}, {"output", 0}, {"cache_creation", 3}, {"cache_read", 4}}},
         {"turns", 2}}}},
      {{"commit", hash},
       {"branch", "HEAD"},
       {"timestamp", ""},
       {"agent", "unknown"},
       {"summary", ""},
       {"synced", true},
       {"event", "commit_unattested"},
       {"developer", "someone"},
       {"telemetry", {{"tokens", {{"input", -4}, {"output", "7"}}}}},
       {"rewritten_from", {hash, hash}},
       {"extra", {{"deep", {{"er", {1, 2, nullptr}}}}}}},
      {{"commit", "abc"},
       {"branch", 7},
       {"timestamp", nullptr},
       {"agent", ""},
       {"summary", "s"},
       {"synced", false},
       {"event", "attestation_skipped"},
       {"uploaded", true},
       {"telemetry", "not an object"}},
  };
  for (const Json& entry : written) {
    const std::string line = core::to_json_line(entry);
    RecordView scanned;
    ASSERT_TRUE(detail::scan_record(line, journal, scanned)) << line;
    EXPECT_EQ(summary_of(scanned), summary_of(view_of(entry, journal))) << line;
  }
  // Lines a writer never writes: read alike, or left to the full parser.
  const std::vector<std::string> others = {
      R"({"commit": "x", "agent": "a", "agent": "b"})",               // a repeated key
      R"({"commit": "x", "summary": "caf\u00e9"})",                   // an escape beyond ASCII
      "{\"commit\": \"x\", \"summary\": \"caf\xc3\xa9\"}",            // raw UTF-8
      R"({"commit": "x", "telemetry": {"tokens": {"input": 1.5}}})",  // not a whole number
      R"({"commit": "x", "telemetry": {"tokens": {"input": 01}}})",   // not JSON
      R"({"commit": "x", "synced": 1})",
      R"({"commit": "x", "synced": "yes"})",
      R"({"commit": "x"} trailing)",
      R"({"commit": "x",})",
      R"([1, 2])",
      R"({"a": [[[[[1]]]]]})",
      R"({"commit": "x", "telemetry": {"tokens": {"input": 123456789012345678901}}})",
      "{\"commit\": \"x\",\t\"agent\" :\"a\" , \"synced\":true }",
  };
  for (const std::string& line : others) {
    RecordView scanned;
    if (!detail::scan_record(line, journal, scanned)) continue;
    const std::optional<Json> parsed = core::parse_json(line);
    ASSERT_TRUE(parsed && parsed->is_object()) << "read a line the parser refuses: " << line;
    EXPECT_EQ(summary_of(scanned), summary_of(view_of(*parsed, journal))) << line;
  }
}

}  // namespace
}  // namespace tamrik::synccore
