// Ledger lines our writers never write (hand edits, other tools, damage)
// still get one reading: the writers treat such a line as the reader does.
// Cases found by fuzzing the ledger (fuzz/ledger_fuzzer.cpp).

#include "synccore/ledger.hpp"

#include "core/json.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/mark_synced.hpp"

#include <gtest/gtest.h>

namespace tamrik::synccore {
namespace {

using core::Json;
using testing::fake_sha;
using testing::read_text;
using testing::TempDir;
using testing::write_text;

// A repeated key keeps its last value when parsed, so the line is the
// second commit's record to the reader; marking that commit must mark it.
TEST(LedgerForeignLines, RepeatedCommitKeyIsMarkedForTheCommitTheReaderSees) {
  const TempDir dir;
  const path ledger = dir / "log.jsonl";
  const std::string first = fake_sha(1);
  const std::string last = fake_sha(2);
  // The second key written plainly, and spelled with an escape.
  for (const std::string second_key : {"commit", "\\u0063ommit"}) {
    SCOPED_TRACE(second_key);
    const std::string line = "{\"commit\": \"" + first + "\", \"" + second_key + "\": \"" + last + "\"}\n";
    write_text(ledger, line);
    const AttestationLog before = read_attestation_log(ledger);
    ASSERT_EQ(before.pending.size(), 1u);
    ASSERT_EQ(before.pending[0]["commit"], last);

    testing::mark_synced(ledger, Json::array({{{"commit", last}}}));
    const AttestationLog after = read_attestation_log(ledger);
    EXPECT_EQ(after.pending.size(), 0u) << read_text(ledger);
    EXPECT_EQ(after.uploaded, 1);

    // Marking the first, shadowed value leaves the record pending.
    write_text(ledger, line);
    testing::mark_synced(ledger, Json::array({{{"commit", first}}}));
    const AttestationLog unmarked = read_attestation_log(ledger);
    ASSERT_EQ(unmarked.pending.size(), 1u) << read_text(ledger);
    EXPECT_EQ(unmarked.pending[0]["commit"], last);
  }
}

// Numbers another writer put in a line (an integer beyond 64 bits, 1.50, -0)
// come through the rewrite as written, in the marked line and in the others.
TEST(LedgerForeignLines, MarkingSyncedKeepsEveryNumberAsWritten) {
  const TempDir dir;
  const path ledger = dir / "log.jsonl";
  const std::string numbers = R"("telemetry": {"tokens": 123456789012345678901234567890, "cost": 1.50, "n": -0})";
  const auto line = [&](int sha, std::string_view spacing) {
    return "{\"commit\":" + std::string(spacing) + "\"" + fake_sha(sha) + "\"," + std::string(spacing) + numbers;
  };
  write_text(ledger, line(1, "") + "}\n" + line(2, "") + "}\n");

  testing::mark_synced(ledger, Json::array({{{"commit", fake_sha(1)}}}));
  // The marked line is written anew with its numbers as they were; the
  // other keeps its bytes.
  EXPECT_EQ(read_text(ledger), line(1, " ") + ", \"synced\": true}\n" + line(2, "") + "}\n");
}

}  // namespace
}  // namespace tamrik::synccore

namespace tamrik::synccore {
namespace {

// JSON allows U+0085, U+2028 and U+2029 raw inside strings: such a line is
// one record, and a rewrite keeps its bytes. A line too long to hold counts
// as corrupt and is copied through a rewrite unchanged.
TEST(LedgerForeignLines, RawLineSeparatorsAndOverlongLinesSurviveMarking) {
  const TempDir dir;
  const path ledger = dir / "log.jsonl";
  const std::string other = "{\"commit\": \"" + fake_sha(1) +
                            "\", \"summary\": \"a\u2028b\u0085c\u2029d\", \"n\": 123456789012345678901234567890}";
  const std::string overlong =
      "{\"commit\": \"" + fake_sha(3) + "\", \"pad\": \"" + std::string(detail::kLedgerLineCap, 'x') + "\"}";
  write_text(ledger, other + "\n" + overlong + "\n{\"commit\": \"" + fake_sha(2) + "\"}\n");

  const AttestationLog before = read_attestation_log(ledger);
  EXPECT_EQ(before.pending.size(), 2u);
  EXPECT_EQ(before.corrupt, 1);

  testing::mark_synced(ledger, Json::array({{{"commit", fake_sha(2)}}}));
  const std::string after = read_text(ledger);
  EXPECT_EQ(after.substr(0, other.size() + 1), other + "\n");
  EXPECT_NE(after.find(overlong + "\n"), std::string::npos);
  EXPECT_EQ(read_attestation_log(ledger).uploaded, 1);
}

}  // namespace
}  // namespace tamrik::synccore
