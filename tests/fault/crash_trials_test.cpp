// Crash trials: the ledger_ops helper is killed with SIGKILL at a random
// moment while it rewrites a large ledger and while it files a pending
// attestation. The ledger must be the old one or the new one, whole; the
// pending attestation must be still pending (intact) or filed, never lost.
// By default 100 trials per test over a ledger of about 1 MB; with
// TAMRIK_CRASH_TRIALS=N, N trials over a ledger of about 5 MB.

#include "core/file_lock.hpp"
#include "core/json.hpp"
#include "core/sha256.hpp"
#include "fault/ops_runner.hpp"
#include "host/paths.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>

#include <sys/wait.h>
#include <unistd.h>

namespace tamrik::testing {
namespace {

using core::Json;
namespace paths = tamrik::paths;

int trial_count() {
  const char* text = std::getenv("TAMRIK_CRASH_TRIALS");
  const int count = text == nullptr ? 0 : std::atoi(text);
  return count > 0 ? count : 100;
}

bool full_size() { return std::getenv("TAMRIK_CRASH_TRIALS") != nullptr; }

std::string commit_for(int n) { return core::sha256_hex("commit " + std::to_string(n)).substr(0, 40); }

// Pending records of some 380 bytes each.
std::string large_ledger(int lines) {
  std::string text;
  for (int n = 0; n < lines; ++n) {
    text +=
        core::to_json_line(Json{{"commit", commit_for(n)},
                                {"branch", "main"},
                                {"timestamp", "2026-07-25T10:00:00Z"},
                                {"agent", "claude-code"},
                                {"summary", "Change " + std::to_string(n) + ": retry uploads with capped backoff"},
                                {"synced", false},
                                {"agent_provider", "anthropic"},
                                {"developer", {{"git_author_name", "Ana"}, {"git_author_email", "ana@example.com"}}},
                                {"telemetry", {{"model", "claude-opus-4-6"}, {"turns", n % 40}}}}) +
        "\n";
  }
  return text;
}

std::vector<fs::path> temp_files_in(const fs::path& dir) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().ends_with(".tmp")) found.push_back(entry.path());
  }
  return found;
}

std::chrono::microseconds random_delay(std::mt19937& rng, std::chrono::microseconds span) {
  std::uniform_int_distribution<long long> pick(0, span.count());
  return std::chrono::microseconds(pick(rng));
}

TEST(CrashTrials, KilledLedgerRewriteLeavesTheOldOrTheNewLedgerWhole) {
  const TempDir dir;
  const fs::path ledger = dir / "log.jsonl";
  const int lines = full_size() ? 15000 : 3000;
  const std::string old_text = large_ledger(lines);
  // Marks two records, one early and one late in the file.
  const std::vector<std::string> args{"mark", ledger, commit_for(3), commit_for(lines - 10)};

  write_text(ledger, old_text);
  const auto duration = time_ledger_ops(args);
  const std::string new_text = read_text(ledger);
  ASSERT_NE(new_text, old_text);
  ASSERT_EQ(synccore::read_attestation_log(ledger).uploaded, 2);

  std::mt19937 rng(20260725);
  int old_seen = 0, new_seen = 0, temp_left = 0;
  const int trials = trial_count();
  for (int trial = 0; trial < trials; ++trial) {
    write_text(ledger, old_text);
    kill_ledger_ops_after(args, random_delay(rng, duration));
    const std::string text = read_text(ledger);
    ASSERT_TRUE(text == old_text || text == new_text)
        << "trial " << trial << ": a ledger of " << text.size() << " bytes is neither the old nor the new one";
    (text == old_text ? old_seen : new_seen)++;
    if (temp_files_in(dir.path()).size() > static_cast<size_t>(temp_left)) ++temp_left;
  }
  std::printf("ledger rewrite (%zu bytes, %lld us): %d trials, %d old, %d new, %d corrupt, temporary file left in %d\n",
              old_text.size(), static_cast<long long>(duration.count()), trials, old_seen, new_seen, 0, temp_left);
  EXPECT_EQ(old_seen + new_seen, trials);
  // A killed writer cannot remove its temporary file; the next rewrite must,
  // or every crash leaves a ledger-sized file behind for good.
  write_text(ledger, old_text);
  ASSERT_EQ(run_ledger_ops(args).exit_code, 0);
  EXPECT_EQ(temp_files_in(dir.path()), std::vector<fs::path>{});
}

// What a killed rewrite leaves: its temporary file, named after its pid.
TEST(CrashTrials, RewriteRemovesTemporaryFilesOfKilledWriters) {
  const TempDir dir;
  const fs::path ledger = dir / "log.jsonl";
  write_text(ledger, large_ledger(3));
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  const fs::path abandoned = dir / (".log.jsonl." + std::to_string(gone) + ".123456.tmp");
  const fs::path in_progress = dir / (".log.jsonl." + std::to_string(getpid()) + ".654321.tmp");
  const fs::path unrelated = dir / ".other.jsonl.1.2.tmp";
  for (const fs::path& file : {abandoned, in_progress, unrelated}) write_text(file, "partial");

  ASSERT_EQ(run_ledger_ops({"mark", ledger, commit_for(1)}).exit_code, 0);
  EXPECT_FALSE(fs::exists(abandoned));
  EXPECT_TRUE(fs::exists(in_progress)) << "a running writer's file was removed";
  EXPECT_TRUE(fs::exists(unrelated));
}

TEST(CrashTrials, KilledFilingLeavesTheAttestationPendingOrFiled) {
  GitRepo repo;
  const std::string head = repo.commit("Add retry to upload");
  const fs::path tamrik_dir = paths::log_jsonl(repo.root()).parent_path();
  const fs::path pending = paths::commit_attestation(repo.root());
  const fs::path ledger = paths::log_jsonl(repo.root());
  const std::string attestation =
      "---\nagent: claude-code\nagent_model: claude-opus-4-6\ntimestamp: '2026-07-25T10:00:00Z'\n"
      "summary: Add retry to upload\n---\n";
  const std::string earlier_line = core::to_json_line(Json{{"commit", commit_for(1)}, {"synced", false}}) + "\n";
  const auto reset = [&] {
    fs::remove_all(tamrik_dir);
    fs::create_directories(tamrik_dir);
    write_text(ledger, earlier_line);
    write_text(pending, attestation);
  };
  const std::vector<std::string> args{"file", repo.root(), head};

  reset();
  const auto duration = time_ledger_ops(args);
  ASSERT_TRUE(synccore::_commit_already_logged(ledger, head));
  ASSERT_FALSE(fs::exists(pending));

  std::mt19937 rng(20260726);
  int pending_seen = 0, filed_seen = 0, both_seen = 0;
  const int trials = trial_count();
  for (int trial = 0; trial < trials; ++trial) {
    reset();
    kill_ledger_ops_after(args, random_delay(rng, duration));
    SCOPED_TRACE("trial " + std::to_string(trial));
    const bool still_pending = fs::exists(pending);
    const bool logged = synccore::_commit_already_logged(ledger, head);
    ASSERT_TRUE(still_pending || logged) << "the attestation was lost";
    if (still_pending) {
      ASSERT_EQ(read_text(pending), attestation) << "the pending file was damaged";
    }
    const synccore::AttestationLog log = synccore::read_attestation_log(ledger);
    ASSERT_EQ(log.corrupt, 0) << read_text(ledger);
    ASSERT_TRUE(read_text(ledger).starts_with(earlier_line));
    const fs::path archived = paths::attestations_dir(repo.root()) / (head + ".yaml");
    if (fs::exists(archived)) {
      ASSERT_EQ(synccore::_parse_attestation_yaml(read_text(archived))["summary"], "Add retry to upload");
    }
    if (still_pending && logged) {
      ++both_seen;
    } else {
      (still_pending ? pending_seen : filed_seen)++;
    }
  }
  std::printf("pending filing (%lld us): %d trials, %d still pending, %d filed, %d filed but still pending, 0 lost\n",
              static_cast<long long>(duration.count()), trials, pending_seen, filed_seen, both_seen);
}

// An upload's marking killed at any moment: every batch it had made durable
// (reported after its mark returned) reads as synced, no line is lost, and
// the next run marks the rest and folds the journal away.
TEST(CrashTrials, KilledBatchMarkingKeepsEveryDurableBatchAndLosesNoLine) {
  const TempDir dir;
  const fs::path ledger = dir / "log.jsonl";
  const fs::path journal = dir / ".platform" / "synced.journal";
  const fs::path report = dir / "marked.txt";
  const int lines = full_size() ? 15000 : 1000;
  const std::string old_text = large_ledger(lines);
  const std::vector<std::string> args{"mark-batches", ledger, report};
  const auto reset = [&] {
    write_text(ledger, old_text);
    fs::remove_all(dir / ".platform");
    fs::remove(report);
  };
  reset();
  const auto duration = time_ledger_ops(args);
  const std::string new_text = read_text(ledger);
  ASSERT_EQ(synccore::read_attestation_log(ledger).uploaded, lines);
  ASSERT_FALSE(fs::exists(journal));

  std::mt19937 rng(20261209);
  const int trials = full_size() ? trial_count() : 20;
  int partly_marked = 0;
  for (int trial = 0; trial < trials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    reset();
    kill_ledger_ops_after(args, random_delay(rng, duration));
    const std::string text = read_text(ledger);
    ASSERT_TRUE(text == old_text || text == new_text) << "a ledger of " << text.size() << " bytes";
    const synccore::AttestationLog after_kill = synccore::read_attestation_log(ledger);
    ASSERT_EQ(after_kill.uploaded + static_cast<int>(after_kill.size()), lines);
    std::set<std::string> still_pending;
    for (const Json& entry : after_kill.pending) still_pending.insert(entry["commit"].get<std::string>());
    const std::string reported = fs::exists(report) ? read_text(report) : "";
    for (std::string_view commit : synccore::detail::split_lines(reported)) {
      ASSERT_EQ(still_pending.count(std::string(commit)), 0u) << commit << " was marked, then lost its mark";
    }
    if (after_kill.uploaded > 0 && after_kill.uploaded < lines) ++partly_marked;
    ASSERT_EQ(run_ledger_ops(args).exit_code, 0);
    ASSERT_EQ(read_text(ledger), new_text);
    ASSERT_FALSE(fs::exists(journal));
  }
  std::printf("batch marking (%lld us): %d trials, %d killed part-way\n", static_cast<long long>(duration.count()),
              trials, partly_marked);
}

// A person presses Ctrl-C on a commit whose hook waits for the ledger lock:
// whatever step the record was at, the commit is not taken for recorded
// without its line, and the next trigger records it, attestation and all.
TEST(CrashTrials, ARecordInterruptedWhileItWaitsIsWrittenByTheNextTrigger) {
  GitRepo repo;
  const std::string head = repo.commit("Add retry to upload");
  const fs::path tamrik_dir = paths::log_jsonl(repo.root()).parent_path();
  const fs::path pending = paths::commit_attestation(repo.root());
  const fs::path ledger = paths::log_jsonl(repo.root());
  const fs::path archived = paths::attestations_dir(repo.root()) / (head + ".yaml");
  const std::string attestation = "---\nagent: claude-code\nsummary: Add retry to upload\n---\n";
  const std::vector<std::string> filing{"file", repo.root(), head};
  const std::vector<std::string> bare_record{"archive", ledger, paths::attestations_dir(repo.root()), head};
  const auto reset = [&](bool with_attestation) {
    fs::remove_all(tamrik_dir);
    fs::create_directories(tamrik_dir);
    write_text(ledger, "");
    if (with_attestation) write_text(pending, attestation);
  };
  reset(true);
  const auto duration = time_ledger_ops(filing);

  std::mt19937 rng(20261208);
  const int signals[] = {SIGINT, SIGTERM, SIGKILL};
  const int trials = full_size() ? trial_count() : 30;
  for (int trial = 0; trial < trials; ++trial) {
    const bool attested = trial % 2 == 0;
    SCOPED_TRACE("trial " + std::to_string(trial));
    reset(attested);
    {
      const core::LockGuard held = core::locked(ledger);
      ASSERT_TRUE(held.acquired());
      kill_ledger_ops_after(attested ? filing : bare_record, random_delay(rng, duration), signals[trial % 3]);
    }
    ASSERT_FALSE(synccore::_already_recorded(repo.root(), head)) << "recorded without its line";
    if (!attested) continue;
    ASSERT_EQ(read_text(pending), attestation);
    ASSERT_EQ(run_ledger_ops(filing).exit_code, 0);
    ASSERT_TRUE(synccore::_commit_already_logged(ledger, head));
    ASSERT_EQ(synccore::_parse_attestation_yaml(read_text(archived))["summary"], "Add retry to upload");
  }
}

}  // namespace
}  // namespace tamrik::testing
