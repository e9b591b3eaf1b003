// A commit keeps one ledger line however many triggers record it: the
// append decides under the ledger lock, where no other writer can slip in
// between its look and its write. A record without an attestation adds
// nothing to a line already there; one with an attestation takes its place.

#include "synccore/ledger.hpp"

#include "core/file_io.hpp"
#include "support/forked_child.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/ledger_text.hpp"

#include <gtest/gtest.h>

#include <map>

namespace tamrik::synccore {
namespace {

using testing::commit_counts;
using testing::fake_sha;
using testing::ledger_entry;
using testing::read_text;
using testing::TempDir;
using testing::write_text;

Json unattested(const std::string& commit) {
  Json entry = ledger_entry(commit);
  entry["agent"] = "unknown";
  entry["event"] = "commit_unattested";
  return entry;
}

TEST(OneLinePerCommit, ASecondUnattestedRecordLeavesTheLedgerAsItWas) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  _append_log_entry(log_path, unattested(fake_sha(1)));
  _append_log_entry(log_path, ledger_entry(fake_sha(2)));
  const std::string before = read_text(log_path);

  _append_log_entry(log_path, unattested(fake_sha(1)));
  _append_log_entry(log_path, unattested(fake_sha(2)));
  EXPECT_EQ(read_text(log_path), before);
}

TEST(OneLinePerCommit, ALineWaitingInASpoolCounts) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  _append_log_entry(log_path, unattested(fake_sha(1)));
  write_text(detail::new_spool_name(log_path), core::to_json_line(unattested(fake_sha(2))) + "\n");

  _append_log_entry(log_path, unattested(fake_sha(2)));
  EXPECT_EQ(commit_counts(log_path), (std::map<std::string, int>{{fake_sha(1), 1}, {fake_sha(2), 1}}));
  EXPECT_TRUE(detail::spool_files(log_path).empty());
}

// An attestation filed for a commit another trigger has just recorded bare,
// directly or through a spool: the attested line takes the bare one's place,
// wherever it stands.
TEST(OneLinePerCommit, AnAttestedRecordReplacesTheBareLine) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  _append_log_entry(log_path, unattested(fake_sha(1)));
  _append_log_entry(log_path, unattested(fake_sha(2)));
  _append_log_entry(log_path, unattested(fake_sha(3)));
  Json attested = ledger_entry(fake_sha(2));
  attested["summary"] = "filed";
  _append_log_entry(log_path, attested);

  Json spooled = ledger_entry(fake_sha(3));
  spooled["summary"] = "filed from a spool";
  write_text(detail::new_spool_name(log_path), core::to_json_line(spooled) + "\n");
  _append_log_entry(log_path, unattested(fake_sha(4)));

  const std::string ledger = read_text(log_path);
  const std::vector<std::string_view> lines = detail::split_lines(ledger);
  ASSERT_EQ(lines.size(), 4u);
  const std::vector<std::string> expected = {core::to_json_line(unattested(fake_sha(1))), core::to_json_line(attested),
                                             core::to_json_line(spooled), core::to_json_line(unattested(fake_sha(4)))};
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
  EXPECT_TRUE(detail::spool_files(log_path).empty());
}

// Both waited out the lock and spooled, one before the other.
TEST(OneLinePerCommit, TwoSpoolsOfOneCommitMergeIntoOneLine) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  _append_log_entry(log_path, unattested(fake_sha(1)));
  for (int n = 0; n < 2; ++n) {
    write_text(detail::new_spool_name(log_path), core::to_json_line(unattested(fake_sha(2))) + "\n");
  }
  ASSERT_EQ(detail::spool_files(log_path).size(), 2u);

  _append_log_entry(log_path, unattested(fake_sha(3)));
  EXPECT_EQ(commit_counts(log_path),
            (std::map<std::string, int>{{fake_sha(1), 1}, {fake_sha(2), 1}, {fake_sha(3), 1}}));
  EXPECT_TRUE(detail::spool_files(log_path).empty());
}

// Hooks and catch-up walks of several processes recording the same commits
// at once, as when agents share a checkout.
TEST(OneLinePerCommit, ProcessesRecordingTheSameCommitsAtOnceLeaveOneLineEach) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  constexpr int kProcesses = 6;
  constexpr int kCommits = 200;
  std::vector<pid_t> recorders;
  for (int p = 0; p < kProcesses; ++p) {
    recorders.push_back(testing::start_child([&log_path, p] {
      for (int n = 0; n < kCommits; ++n) _append_log_entry(log_path, unattested(fake_sha((n * (p + 1)) % kCommits)));
      return 0;
    }));
  }
  for (const pid_t pid : recorders) EXPECT_EQ(testing::wait_child(pid), 0);

  const std::map<std::string, int> counts = commit_counts(log_path);
  EXPECT_EQ(counts.size(), static_cast<size_t>(kCommits));
  for (const auto& [commit, lines] : counts) EXPECT_EQ(lines, 1) << commit;
}

}  // namespace
}  // namespace tamrik::synccore
