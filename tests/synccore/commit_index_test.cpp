// The index of a large ledger's commits answers exactly as reading the
// ledger line by line does: after appends past its step, after a rewrite,
// for lines that only look like records, and with another ledger's or a
// cut index in its place.

#include "synccore/commit_index.hpp"

#include "core/file_io.hpp"
#include "core/json.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/ledger_text.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tamrik::synccore::detail {
namespace {

using core::Json;
using testing::fake_sha;
using testing::ledger_entry;
using testing::TempDir;

// Lines of `first` .. `first + count - 1`, padded to about 300 bytes as
// real records are; every 50th is a foreign writer's (commit not first).
std::string lines_from(int first, int count) {
  std::string text;
  for (int n = first; n < first + count; ++n) {
    Json entry = ledger_entry(fake_sha(n));
    entry["summary"] = std::string(200, 's');
    if (n % 50 == 0) {
      Json foreign = {{"synced", false}};
      foreign.update(entry);
      entry = foreign;
    }
    text += core::to_json_line(entry) + "\n";
  }
  return text;
}

void append(const std::filesystem::path& file, const std::string& text) {
  std::ofstream(file, std::ios::app | std::ios::binary) << text;
}

// Every answer of the index for `present` and a few absent commits is the
// line-by-line reader's.
void expect_same_answers(const std::filesystem::path& log, const std::vector<std::string>& present) {
  for (const std::string& commit : present) {
    EXPECT_TRUE(file_holds_commit(log, commit)) << commit;
    EXPECT_TRUE(ledger_holds_commit(log, commit)) << commit;
  }
  for (const std::string& commit : {fake_sha(-1), fake_sha(-2), std::string(64, 'a')}) {
    EXPECT_FALSE(ledger_holds_commit(log, commit)) << commit;
  }
}

TEST(CommitIndex, AnswersAsTheLedgerReadsAfterAppendsAndRewrites) {
  TempDir dir;
  const std::filesystem::path log = dir / "log.jsonl";
  testing::write_text(log, lines_from(0, 5'000));  // about 1.5 MB
  EXPECT_FALSE(ledger_holds_commit(log, fake_sha(-1)));
  ASSERT_TRUE(std::filesystem::exists(commit_index_path(log)));  // a full read wrote it
  expect_same_answers(log, {fake_sha(0), fake_sha(50), fake_sha(2'500), fake_sha(4'999)});

  // Appends are read on from the index's end, then indexed once past its step.
  append(log, lines_from(5'000, 100));
  expect_same_answers(log, {fake_sha(5'000), fake_sha(5'099), fake_sha(10)});
  const auto before = std::filesystem::file_size(commit_index_path(log));
  append(log, lines_from(5'100, 20'000));
  EXPECT_FALSE(ledger_holds_commit(log, fake_sha(-1)));
  EXPECT_GT(std::filesystem::file_size(commit_index_path(log)), before);
  expect_same_answers(log, {fake_sha(7), fake_sha(5'050), fake_sha(25'099)});

  // A rewrite indexes the new file as it writes it: a replaced line and
  // its neighbours are found at their new offsets.
  ASSERT_TRUE(rewrite_lines(log, [](std::string_view line) -> std::optional<std::string> {
    if (line.find(fake_sha(3)) == std::string_view::npos) return std::nullopt;
    return core::to_json_line(ledger_entry(fake_sha(-3))) + "\x1e" + core::to_json_line(ledger_entry(fake_sha(3)));
  }));
  expect_same_answers(log, {fake_sha(-3), fake_sha(3), fake_sha(4), fake_sha(25'099)});
}

TEST(CommitIndex, ALineThatOnlyLooksLikeARecordIsNotOne) {
  TempDir dir;
  const std::filesystem::path log = dir / "log.jsonl";
  // Torn: the commit comes first, the rest never came.
  const std::string torn = "{\"commit\": \"" + fake_sha(-5) + "\", \"bran\n";
  testing::write_text(log, lines_from(0, 2'000) + torn + lines_from(2'000, 2'000));
  EXPECT_FALSE(file_holds_commit(log, fake_sha(-5)));
  EXPECT_FALSE(ledger_holds_commit(log, fake_sha(-5)));  // writes the index
  EXPECT_FALSE(ledger_holds_commit(log, fake_sha(-5)));  // reads it
  EXPECT_TRUE(ledger_holds_commit(log, fake_sha(3'999)));
}

TEST(CommitIndex, AForeignOrDamagedIndexIsIgnored) {
  TempDir dir;
  const std::filesystem::path log = dir / "log.jsonl", other = dir / "other" / "log.jsonl";
  testing::write_text(log, lines_from(0, 4'000));
  std::filesystem::create_directories(other.parent_path());
  testing::write_text(other, lines_from(10'000, 4'000));
  ASSERT_FALSE(ledger_holds_commit(other, fake_sha(-1)));
  ASSERT_FALSE(ledger_holds_commit(log, fake_sha(-1)));
  const std::string good = core::read_file(commit_index_path(log), 1 << 30);

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"another ledger's", core::read_file(commit_index_path(other), 1 << 30)},
      {"cut short", good.substr(0, good.size() - 7)},
      {"not an index", "not an index"},
  };
  for (const auto& [name, bytes] : cases) {
    testing::write_text(commit_index_path(log), bytes);
    EXPECT_TRUE(ledger_holds_commit(log, fake_sha(1'234))) << name;
    EXPECT_FALSE(ledger_holds_commit(log, fake_sha(12'000))) << name;
  }
}

}  // namespace
}  // namespace tamrik::synccore::detail
