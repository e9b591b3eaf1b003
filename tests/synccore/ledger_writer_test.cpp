#include "synccore/ledger.hpp"

#include "core/file_lock.hpp"
#include "core/file_io.hpp"
#include "core/json.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/mark_synced.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <random>
#include <set>
#include <thread>

namespace tamrik::synccore {
namespace {

using core::Json;
using testing::commit_counts;
using testing::fake_sha;
using testing::ledger_entry;
using testing::read_text;
using testing::TempDir;
using testing::write_text;

std::string line_of(const Json& entry) { return core::to_json_line(entry) + "\n"; }

struct timespec mtime_of(const path& file) {
  struct stat st {};
  EXPECT_EQ(::stat(file.c_str(), &st), 0);
  return st.st_mtim;
}

bool same_time(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

int count_tmp_files(const path& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() == ".tmp") ++n;
  }
  return n;
}

// Runs `body` in a forked child and returns its exit status.
template <typename F>
int in_child(F body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int code = 0;
    try {
      code = body();
    } catch (...) {
      code = 99;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(AppendLogEntry, CreatesTheDirectoryAndWritesOneExactLine) {
  TempDir repo;
  const path log_path = repo / ".tamrik/log.jsonl";
  Json entry = ledger_entry(fake_sha(1));
  entry["summary"] = "caf\xc3\xa9";
  _append_log_entry(log_path, entry);
  EXPECT_EQ(read_text(log_path), "{\"commit\": \"" + fake_sha(1) +
                                     "\", \"branch\": \"main\", \"timestamp\": \"2024-05-01T10:00:00Z\", "
                                     "\"agent\": \"claude-code\", \"summary\": \"caf\\u00e9\", \"synced\": false}\n");
}

TEST(AppendLogEntry, NeverFusesWithATornLastLine) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  write_text(log_path, line_of(ledger_entry(fake_sha(1))) + "{\"commit\": \"torn");
  _append_log_entry(log_path, ledger_entry(fake_sha(2)));
  const AttestationLog log = read_attestation_log(log_path);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(log.corrupt, 1);
  EXPECT_TRUE(_commit_already_logged(log_path, fake_sha(2)));
}

TEST(ReplaceLogEntry, RewritesOnlyTheFirstLineOfTheCommit) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  const std::string a = fake_sha(1), b = fake_sha(2);
  const std::string before = line_of(ledger_entry(b, true)) + "\n" + "not json \xff\n" +
                             line_of(ledger_entry(a, true)) + line_of(ledger_entry(a, true));
  write_text(log_path, before);
  Json upgraded = ledger_entry(a);
  upgraded["summary"] = "attested";
  ASSERT_TRUE(_replace_log_entry(log_path, upgraded));
  EXPECT_EQ(read_text(log_path), line_of(ledger_entry(b, true)) + "\n" + "not json \xff\n" + line_of(upgraded) +
                                     line_of(ledger_entry(a, true)));
}

TEST(ReplaceLogEntry, LeavesTheFileUntouchedWhenTheCommitIsAbsent) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  EXPECT_FALSE(_replace_log_entry(log_path, ledger_entry(fake_sha(1))));
  EXPECT_FALSE(std::filesystem::exists(log_path));

  const std::string before = line_of(ledger_entry(fake_sha(2)));
  write_text(log_path, before);
  const auto stamp = mtime_of(log_path);
  EXPECT_FALSE(_replace_log_entry(log_path, ledger_entry(fake_sha(1))));
  EXPECT_EQ(read_text(log_path), before);
  EXPECT_TRUE(same_time(mtime_of(log_path), stamp));
}

TEST(MarkSynced, MarksTheBatchAndKeepsEverythingElse) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  const std::string a = fake_sha(1), b = fake_sha(2), c = fake_sha(3);
  Json with_uploaded = ledger_entry(a);
  with_uploaded["uploaded"] = false;
  // A foreign writer's line: other key order and spacing, not in the batch.
  const std::string foreign = "{\"synced\":false,\"commit\":\"" + c + "\"}";
  write_text(log_path,
             "\n\n" + line_of(with_uploaded) + "\n" + "garbage\n" + line_of(ledger_entry(b)) + foreign + "\n\n");
  testing::mark_synced(log_path, Json::array({with_uploaded, ledger_entry(fake_sha(9))}));

  // Only the marked line changes; every other keeps its bytes.
  const std::string after = read_text(log_path);
  Json marked = ledger_entry(a, true);
  EXPECT_EQ(after, "\n\n" + line_of(marked) + "\n" + "garbage\n" + line_of(ledger_entry(b)) + foreign + "\n\n");
  const AttestationLog log = read_attestation_log(log_path);
  EXPECT_EQ(log.uploaded, 1);
  EXPECT_EQ(log.size(), 2u);
}

TEST(MarkSynced, DoesNothingForABatchWithoutCommits) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  const std::string before = "\n" + line_of(ledger_entry(fake_sha(1))) + "\n";
  write_text(log_path, before);
  const auto stamp = mtime_of(log_path);
  Json no_commit = ledger_entry("");
  testing::mark_synced(log_path, Json::array({no_commit, Json::object()}));
  EXPECT_EQ(read_text(log_path), before);
  EXPECT_TRUE(same_time(mtime_of(log_path), stamp));
}

// The journal marks a line as it was sent: a line replaced since (an
// attestation attached, unsent on purpose) stays pending before and after
// the fold, which marks the rest and removes the journal; a torn or foreign
// journal line marks nothing.
TEST(MarkSynced, TheJournalMarksOnlyTheLineAsSent) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  const std::string a = fake_sha(1), b = fake_sha(2), c = fake_sha(3);
  write_text(log_path, line_of(ledger_entry(a)) + line_of(ledger_entry(b)) + line_of(ledger_entry(c)));
  _mark_synced(log_path, {{a, _line_identity(ledger_entry(a))}, {b, _line_identity(ledger_entry(b))}});
  const path journal = dir / ".platform" / "synced.journal";
  core::append_line(journal, c + " not-an-identity\n" + c.substr(0, 20));
  const std::string ledger_before_fold = read_text(log_path);
  EXPECT_EQ(read_attestation_log(log_path).uploaded, 2);

  Json upgraded = ledger_entry(b);
  upgraded["summary"] = "Add the login form, attested";
  ASSERT_TRUE(_replace_log_entry(log_path, upgraded));
  AttestationLog log = read_attestation_log(log_path);
  EXPECT_EQ(log.uploaded, 1);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log.pending[0]["summary"], "Add the login form, attested");
  EXPECT_EQ(count_attestation_log(log_path).uploaded, 1);

  _fold_synced(log_path);
  EXPECT_FALSE(std::filesystem::exists(journal));
  EXPECT_NE(read_text(log_path), ledger_before_fold);
  log = read_attestation_log(log_path);
  EXPECT_EQ(log.uploaded, 1);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log.pending[0]["commit"], b);
  EXPECT_EQ(log.pending[1]["commit"], c);
}

TEST(Rewrites, AFailedRewriteLeavesTheLedgerAndNoTemporaryFile) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  std::string before;
  std::vector<SentLine> sent;
  for (int i = 0; i < 200; ++i) {
    before += line_of(ledger_entry(fake_sha(i)));
    sent.push_back({fake_sha(i), _line_identity(ledger_entry(fake_sha(i)))});
  }
  write_text(log_path, before);
  _mark_synced(log_path, sent);
  // A file size limit below the ledger's size makes the temporary file's
  // write fail part-way, like a full disk.
  const int status = in_child([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1024, 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      _fold_synced(log_path);
    } catch (const std::exception&) {
      return 0;
    }
    return 1;
  });
  EXPECT_EQ(status, 0) << "the rewrite should have failed";
  EXPECT_EQ(read_text(log_path), before);
  EXPECT_EQ(count_tmp_files(dir.path()), 0);
}

TEST(Concurrency, AppendersAndAMarkerLoseNothing) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  const path marked_list = dir / "marked.txt";
  constexpr int kProcesses = 8;
  constexpr int kAppends = 500;

  std::vector<pid_t> appenders;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (int i = 0; i < kAppends; ++i) _append_log_entry(log_path, ledger_entry(fake_sha(p * kAppends + i)));
      ::_exit(0);
    }
    appenders.push_back(pid);
  }
  const pid_t marker = ::fork();
  if (marker == 0) {
    // As an upload marks: batches journalled, the journal folded now and then.
    std::mt19937 rng(::getpid());
    for (int round = 0;; ++round) {
      const AttestationLog log = read_attestation_log(log_path);
      if (!log.pending.empty()) {
        std::vector<SentLine> batch;
        std::string names;
        for (const Json& entry : log.pending) {
          if (rng() % 4 != 0) continue;
          batch.push_back({entry["commit"].get<std::string>(), _line_identity(entry)});
          names += batch.back().commit + "\n";
        }
        _mark_synced(log_path, batch);
        if (round % 3 == 0) _fold_synced(log_path);
        core::append_line(marked_list, names.empty() ? "\n" : names);
      }
      if (std::filesystem::exists(dir / "stop")) {
        _fold_synced(log_path);
        ::_exit(0);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  for (pid_t pid : appenders) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  write_text(dir / "stop", "");
  int status = 0;
  ::waitpid(marker, &status, 0);

  const std::map<std::string, int> counts = commit_counts(log_path);
  ASSERT_EQ(counts.size(), static_cast<size_t>(kProcesses * kAppends));
  for (const auto& [commit, n] : counts) EXPECT_EQ(n, 1) << commit;

  std::set<std::string> marked;
  const std::string names = read_text(marked_list);
  for (std::string_view name : detail::split_lines(names)) {
    if (!name.empty()) marked.insert(std::string(name));
  }
  EXPECT_FALSE(marked.empty());
  const std::string text = read_text(log_path);
  for (std::string_view line : detail::split_lines(text)) {
    const Json entry = *core::parse_json(line);
    if (marked.count(entry["commit"].get<std::string>())) {
      EXPECT_EQ(entry["synced"], true);
    }
  }
}

TEST(Concurrency, AppendsDuringASlowRewriteAreSpooledNotLost) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  write_text(log_path, line_of(ledger_entry(fake_sha(1000))));
  const path ready = dir / "ready";

  // Another process holds the lock through a slow rewrite: it reads the
  // ledger, waits, then renames its copy over whatever was appended.
  const pid_t rewriter = ::fork();
  if (rewriter == 0) {
    const core::LockGuard guard = core::locked(log_path);
    const std::string text = core::read_file(log_path, 1 << 30);
    write_text(ready, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    core::replace_file_atomically(log_path, text);
    ::_exit(guard.acquired() ? 0 : 1);
  }
  while (!std::filesystem::exists(ready)) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  detail::ledger_lock_timeout = std::chrono::milliseconds(50);
  for (int i = 0; i < 10; ++i) _append_log_entry(log_path, ledger_entry(fake_sha(i)));
  EXPECT_EQ(detail::spool_files(log_path).size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(_commit_already_logged(log_path, fake_sha(i)));
  EXPECT_EQ(read_attestation_log(log_path).size(), 11u);

  int status = 0;
  ::waitpid(rewriter, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  detail::ledger_lock_timeout = std::chrono::milliseconds(10'000);

  // The next writer that holds the lock merges the spool.
  _append_log_entry(log_path, ledger_entry(fake_sha(10)));
  EXPECT_TRUE(detail::spool_files(log_path).empty());
  const std::map<std::string, int> counts = commit_counts(log_path);
  EXPECT_EQ(counts.size(), 12u);
  for (const auto& [commit, n] : counts) EXPECT_EQ(n, 1) << commit;
}

TEST(Concurrency, AMergeCutShortDoesNotDuplicate) {
  TempDir dir;
  const path log_path = dir / "log.jsonl";
  // As if a merge appended the spooled line and died before removing the spool.
  write_text(log_path, line_of(ledger_entry(fake_sha(1))));
  write_text(dir / "log.jsonl.spool-1-1-1-1", line_of(ledger_entry(fake_sha(1))) + line_of(ledger_entry(fake_sha(2))));
  testing::mark_synced(log_path, Json::array({ledger_entry(fake_sha(2))}));
  const std::map<std::string, int> counts = commit_counts(log_path);
  EXPECT_EQ(counts, (std::map<std::string, int>{{fake_sha(1), 1}, {fake_sha(2), 1}}));
  EXPECT_EQ(read_attestation_log(log_path).uploaded, 1);
}

}  // namespace
}  // namespace tamrik::synccore
