#include "synccore/ledger.hpp"

#include "core/json.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"

#include <gtest/gtest.h>

#include <random>
#include <regex>

namespace tamrik::synccore {
namespace {

using core::Json;
using testing::fake_sha;
using testing::ledger_entry;
using testing::TempDir;
using testing::write_text;

void expect_counts_identity(const AttestationLog& log, int object_lines) {
  EXPECT_EQ(log.attested + log.unattested + log.skipped,
            log.uploaded + log.unaddressable + static_cast<int>(log.size()));
  EXPECT_EQ(log.attested + log.unattested + log.skipped, object_lines);
}

TEST(ReadAttestationLog, MissingFileAndBlankLinesReadEmpty) {
  TempDir dir;
  for (const AttestationLog& log : {read_attestation_log(dir / "log.jsonl"), read_attestation_log(dir.path())}) {
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(log.uploaded + log.skipped + log.unaddressable + log.corrupt + log.attested + log.unattested, 0);
  }
  write_text(dir / "blank.jsonl", "\n\n   \n\t\n");
  const AttestationLog blank = read_attestation_log(dir / "blank.jsonl");
  EXPECT_EQ(blank.size(), 0u);
  EXPECT_EQ(blank.corrupt, 0);
  EXPECT_EQ(blank.attested, 0);
}

TEST(ReadAttestationLog, ClassifiesEveryKindOfLine) {
  TempDir dir;
  const std::string a = fake_sha(1), b = fake_sha(2), c = fake_sha(3);
  const std::string sha256 = std::string(64, 'a');
  std::string upper = fake_sha(4);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));

  Json uploaded_old = ledger_entry(a);
  uploaded_old["uploaded"] = true;
  Json skipped = ledger_entry(b);
  skipped["event"] = "attestation_skipped";
  Json unattested_synced = ledger_entry(c, true);
  unattested_synced["event"] = "commit_unattested";
  Json no_commit = ledger_entry("");
  no_commit.erase("commit");
  Json numeric_commit = ledger_entry("");
  numeric_commit["commit"] = 12345;

  const std::string text = core::to_json_line(uploaded_old) + "\n" + core::to_json_line(skipped) + "\n" +
                           core::to_json_line(unattested_synced) + "\n" + core::to_json_line(ledger_entry(sha256)) +
                           "\n" + core::to_json_line(ledger_entry(upper)) + "\n" +
                           core::to_json_line(ledger_entry("abc1234")) + "\n" + core::to_json_line(no_commit) + "\n" +
                           core::to_json_line(numeric_commit) + "\n" + "[1, 2, 3]\n" + "not json at all\n" +
                           "{\"commit\": \"\xff\xfe\"}\n" + "\n" +
                           // Unicode white space around a record is trimmed like ASCII's.
                           "\u00a0" + core::to_json_line(ledger_entry(fake_sha(5))) + "\u2003\n";
  write_text(dir / "log.jsonl", text);
  const AttestationLog log = read_attestation_log(dir / "log.jsonl");

  EXPECT_EQ(log.uploaded, 2);  // `uploaded` set, `synced` set
  EXPECT_EQ(log.skipped, 1);
  EXPECT_EQ(log.unattested, 1);
  EXPECT_EQ(log.attested, 7);
  EXPECT_EQ(log.unaddressable, 4);  // upper case, abbreviated, missing, numeric
  EXPECT_EQ(log.corrupt, 3);        // array, text, invalid UTF-8
  ASSERT_EQ(log.size(), 3u);        // the skipped record still goes out
  EXPECT_EQ(log.pending[0]["commit"], b);
  EXPECT_EQ(log.pending[1]["commit"], sha256);
  EXPECT_EQ(log.pending[2]["commit"], fake_sha(5));
  expect_counts_identity(log, 9);
}

// JSON allows U+2028 raw inside a string, so it never splits a line: two
// records joined by one read as one corrupt line.
TEST(ReadAttestationLog, SplitsAtLineBreaksButNotAtUnicodeSeparators) {
  TempDir dir;
  const std::string lines[] = {
      core::to_json_line(ledger_entry(fake_sha(1))), core::to_json_line(ledger_entry(fake_sha(2))),
      core::to_json_line(ledger_entry(fake_sha(3))), core::to_json_line(ledger_entry(fake_sha(4)))};
  write_text(dir / "log.jsonl", lines[0] + "\r\n" + lines[1] + "\r" + lines[2] + "\xe2\x80\xa8" + lines[3]);
  const AttestationLog log = read_attestation_log(dir / "log.jsonl");
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(log.corrupt, 1);
}

TEST(ReadAttestationLog, CountIdentityHoldsOnRandomLedgers) {
  TempDir dir;
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::string text;
    int objects = 0;
    for (int i = 0; i < 60; ++i) {
      Json entry = ledger_entry(rng() % 5 == 0 ? "short" : fake_sha(static_cast<int>(rng() % 30)), rng() % 3 == 0);
      switch (rng() % 6) {
        case 0:
          entry["event"] = "attestation_skipped";
          break;
        case 1:
          entry["event"] = "commit_unattested";
          break;
        case 2:
          entry["event"] = "something_else";
          break;
        case 3:
          entry["uploaded"] = rng() % 2 == 0;
          break;
        default:
          break;
      }
      switch (rng() % 8) {
        case 0:
          text += "{broken\n";
          break;
        case 1:
          text += "\n";
          break;
        case 2:
          text += "\"just text\"\n";
          break;
        default:
          text += core::to_json_line(entry) + "\n";
          ++objects;
          break;
      }
    }
    write_text(dir / "log.jsonl", text);
    expect_counts_identity(read_attestation_log(dir / "log.jsonl"), objects);
  }
}

TEST(ReadAttestationLog, SurvivesTruncationAtEveryByte) {
  TempDir dir;
  std::string text;
  std::vector<size_t> line_ends;
  for (int i = 0; i < 5; ++i) {
    Json entry = ledger_entry(fake_sha(i));
    entry["summary"] = "caf\xc3\xa9 \xf0\x9f\x98\x80 line " + std::to_string(i);
    text += core::to_json_line(entry) + "\n";
    line_ends.push_back(text.size());
  }
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    write_text(dir / "log.jsonl", text.substr(0, cut));
    const AttestationLog log = read_attestation_log(dir / "log.jsonl");
    size_t whole = 0;
    while (whole < line_ends.size() && line_ends[whole] - 1 <= cut) ++whole;  // line complete without its "\n"
    ASSERT_EQ(log.size(), whole) << "cut at " << cut;
    ASSERT_LE(log.corrupt, 1) << "cut at " << cut;
  }
}

TEST(CommitHash, AcceptsOnlyFullLowercaseHashes) {
  const std::regex pattern{std::string(_GIT_HASH_RE)};
  for (const std::string& value :
       {std::string(40, 'a'), std::string(64, '0'), std::string(41, 'a'), std::string(63, 'a'), std::string(40, 'A'),
        std::string(39, 'a') + "g", std::string(" ") + std::string(40, 'a'), std::string("abc1234"), std::string(),
        std::string(40, 'a') + "\n"}) {
    EXPECT_EQ(_is_valid_commit_hash(value), std::regex_match(value, pattern)) << value;
  }
  EXPECT_TRUE(_is_valid_commit_hash(fake_sha(1)));
  EXPECT_FALSE(_is_valid_commit_hash(std::string(41, 'a')));
  EXPECT_FALSE(_is_valid_commit_hash(std::string(63, 'a')));
}

TEST(CommitAlreadyLogged, FindsAnyLineForTheCommit) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  const std::string a = fake_sha(1), b = fake_sha(2), c = fake_sha(3);
  EXPECT_FALSE(_commit_already_logged(log_path, a));  // no ledger
  Json synced = ledger_entry(b, true);
  synced["event"] = "commit_unattested";
  // A line that only mentions the commit in its summary is not its line.
  Json mention = ledger_entry(fake_sha(9));
  mention["summary"] = "revert " + c;
  write_text(log_path, core::to_json_line(ledger_entry(a)) + "\n" + core::to_json_line(ledger_entry(a)) + "\n" +
                           core::to_json_line(synced) + "\n" + core::to_json_line(mention) + "\n{garbage " + c + "\n");
  EXPECT_TRUE(_commit_already_logged(log_path, a));
  EXPECT_TRUE(_commit_already_logged(log_path, b));
  EXPECT_FALSE(_commit_already_logged(log_path, c));
  EXPECT_FALSE(_commit_already_logged(log_path, a.substr(0, 12)));
  EXPECT_FALSE(_commit_already_logged(log_path, ""));
  const AttestationLog log = read_attestation_log(log_path);
  EXPECT_EQ(log.size(), 3u);  // both lines of `a` count and are pending
}

// An archive without its line is what a record killed before its append
// leaves: the commit still has to be recorded.
TEST(AlreadyRecorded, TakesTheLedgerLineNotAnArchiveAlone) {
  TempDir repo;
  const std::string archived = fake_sha(1), logged = fake_sha(2);
  write_text(repo / (".tamrik/attestations/" + archived + ".yaml"), "summary: x\n");
  write_text(repo / ".tamrik/log.jsonl", core::to_json_line(ledger_entry(logged)) + "\n");
  EXPECT_FALSE(_already_recorded(repo.path(), archived));
  EXPECT_TRUE(_already_recorded(repo.path(), logged));
  EXPECT_FALSE(_already_recorded(repo.path(), fake_sha(3)));
  EXPECT_FALSE(_already_recorded(repo.path(), "../../etc/passwd"));
}

TEST(ParseAttestationYaml, EmptyAndMalformedTextGiveAnEmptyMap) {
  for (const char* text : {"", "---\n---\n", "---\n", "key: [unclosed\n", "a: b: c: [\n", "~\n"}) {
    const Json parsed = _parse_attestation_yaml(text);
    EXPECT_TRUE(parsed.is_object() && parsed.empty()) << text;
  }
  const Json doc = _parse_attestation_yaml("---\nsummary: \"Fix it\"\ntimestamp: 2024-05-01T10:00:00Z\n---\n");
  EXPECT_EQ(doc["summary"], "Fix it");
  EXPECT_EQ(doc["timestamp"], "2024-05-01T10:00:00Z");  // a date stays text
  EXPECT_TRUE(_parse_attestation_yaml("- a\n- b\n").is_array());
}

}  // namespace
}  // namespace tamrik::synccore
