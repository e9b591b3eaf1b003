// The cache of ledger counts against a full read: after appends, spooled
// lines, rewrites, a torn last line, journalled uploads, and with a foreign
// or corrupt cache in its place.

#include "synccore/ledger_counts.hpp"

#include "core/file_io.hpp"
#include "core/json.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/mark_synced.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>

#include <filesystem>

namespace tamrik::synccore {
namespace {

using core::Json;
using testing::fake_sha;
using testing::ledger_entry;
using testing::TempDir;
using testing::write_text;

std::string line_of(const Json& entry) { return core::to_json_line(entry) + "\n"; }

// Lines of every kind the counts tell apart.
std::string lines_from(int first, int count) {
  std::string text;
  for (int n = first; n < first + count; ++n) {
    Json entry = ledger_entry(fake_sha(n), n % 3 == 0);
    if (n % 5 == 0) entry["event"] = "commit_unattested";
    if (n % 11 == 0) entry["commit"] = "not a hash";
    if (n % 13 == 0) entry[kDiffHashMismatch] = true;
    text += n % 17 == 0 ? "not json\n" : line_of(entry);
  }
  return text;
}

void expect_counts_as_read(const std::filesystem::path& log_path) {
  const AttestationLog counted = count_attestation_log(log_path);
  const AttestationLog read = read_attestation_log(log_path);
  EXPECT_EQ(counted.pending_count, read.pending_count);
  EXPECT_EQ(counted.uploaded, read.uploaded);
  EXPECT_EQ(counted.skipped, read.skipped);
  EXPECT_EQ(counted.unaddressable, read.unaddressable);
  EXPECT_EQ(counted.corrupt, read.corrupt);
  EXPECT_EQ(counted.attested, read.attested);
  EXPECT_EQ(counted.unattested, read.unattested);
  EXPECT_EQ(counted.mismatched, read.mismatched);
}

class LedgerCounts : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / ".platform");
    write_text(log_, lines_from(0, 8000));
    ASSERT_GT(std::filesystem::file_size(log_), detail::kCountsCacheMinLedger);
    expect_counts_as_read(log_);
    ASSERT_TRUE(std::filesystem::exists(cache_));
  }

  TempDir dir_;
  const std::filesystem::path log_ = dir_ / "log.jsonl";
  const std::filesystem::path cache_ = detail::ledger_counts_cache_path(log_);
};

TEST_F(LedgerCounts, FollowAppendsSpoolsAndRewrites) {
  _append_log_entry(log_, ledger_entry(fake_sha(9001)));
  core::append_line(log_, lines_from(9002, 40));
  expect_counts_as_read(log_);
  write_text(log_.string() + ".spool-1-1-1-1", lines_from(9100, 3));
  expect_counts_as_read(log_);
  testing::mark_synced(log_, Json::array({ledger_entry(fake_sha(1)), ledger_entry(fake_sha(9001))}));
  expect_counts_as_read(log_);
  // Rewritten in place without a new file, shorter and then as long again.
  std::filesystem::resize_file(log_, std::filesystem::file_size(log_) - 1000);
  core::append_line(log_, lines_from(9200, 3));
  expect_counts_as_read(log_);
}

// A writer killed part-way leaves a last line without its end; its rest,
// or the next record, may still come.
TEST_F(LedgerCounts, FollowATornLastLine) {
  const std::string line = line_of(ledger_entry(fake_sha(9300)));
  core::append_line(log_, line.substr(0, 30));
  expect_counts_as_read(log_);
  {
    core::UniqueFd fd = core::open_file(log_, O_WRONLY | O_APPEND);
    core::write_all(fd.get(), line.substr(30), log_);
  }
  expect_counts_as_read(log_);
  core::append_line(log_, "{\"commit\": \"torn");
  _append_log_entry(log_, ledger_entry(fake_sha(9301)));
  expect_counts_as_read(log_);
}

TEST_F(LedgerCounts, FollowTheJournalOfAcceptedUploads) {
  const Json sent = ledger_entry(fake_sha(1));
  _mark_synced(log_, {{fake_sha(1), _line_identity(sent)}});
  expect_counts_as_read(log_);
  _fold_synced(log_);
  expect_counts_as_read(log_);
}

// The usual upload: counted with no journal, then lines journalled (some
// pending, one sent already, one appended after the count) and folded. The
// fold carries the counts to the new file; the next count reads on.
TEST_F(LedgerCounts, ComeThroughAFoldWithoutACountFromTheStart) {
  _append_log_entry(log_, ledger_entry(fake_sha(9400)));
  std::vector<SentLine> sent;
  for (const auto& [commit, entry] : _find_log_entries(
           log_, {fake_sha(1), fake_sha(2), fake_sha(3), fake_sha(4000), fake_sha(7999), fake_sha(9400)})) {
    sent.push_back({commit, _line_identity(entry)});
  }
  ASSERT_EQ(sent.size(), 6u);
  _mark_synced(log_, sent);
  _fold_synced(log_);
  const Json cache = *core::parse_json(core::read_file(cache_, 1 << 20));
  EXPECT_EQ(cache["inode"].get<unsigned long long>(), core::file_status(log_)->st_ino);
  expect_counts_as_read(log_);
}

TEST_F(LedgerCounts, IgnoreAForeignOrCorruptCache) {
  const std::string cache = testing::read_text(cache_);
  for (const std::string& foreign : {std::string("garbage"), std::string(""), cache.substr(0, cache.size() / 2),
                                     std::string(R"({"version": 1, "counts": [1, 2, 3]})")}) {
    write_text(cache_, foreign);
    expect_counts_as_read(log_);
  }
  // Another ledger's cache: its counts cover other bytes.
  const TempDir other;
  std::filesystem::create_directories(other / ".platform");
  write_text(other / "log.jsonl", lines_from(20000, 8000));
  count_attestation_log(other / "log.jsonl");
  std::filesystem::copy_file(detail::ledger_counts_cache_path(other / "log.jsonl"), cache_,
                             std::filesystem::copy_options::overwrite_existing);
  expect_counts_as_read(log_);
  // A link in the cache's place is not followed.
  std::filesystem::remove(cache_);
  std::filesystem::create_symlink(detail::ledger_counts_cache_path(other / "log.jsonl"), cache_);
  expect_counts_as_read(log_);
}

}  // namespace
}  // namespace tamrik::synccore
