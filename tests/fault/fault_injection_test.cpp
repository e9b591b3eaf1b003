// Every file-system call of the ledger's writers, failed in turn: first a
// clean run counts the calls, then call k of that run is failed with
// ENOSPC, EIO or EINTR (and once with ENOSPC from k on), for every k.
// After each run: no record is lost (it is in the ledger or still pending
// in its source), no temporary file is left, the ledger holds no corrupt
// line but the one planted, and the helper's exit status and message say
// what happened. EINTR must never be seen: our code retries it.

#include "core/json.hpp"
#include "fault/ops_runner.hpp"
#include "host/paths.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace tamrik::testing {
namespace {

using core::Json;
namespace paths = tamrik::paths;

constexpr int kDone = 0;
constexpr int kThrew = 1;
constexpr int kNotFiled = 2;

const std::string kPending1 = "1111111111111111111111111111111111111111";
const std::string kSynced = "2222222222222222222222222222222222222222";
const std::string kPending2 = "3333333333333333333333333333333333333333";
const std::string kNew = "4444444444444444444444444444444444444444";
constexpr const char* kPlantedCorruptLine = "{\"commit\": \"5555 torn by an old crash";

std::string line_for(const std::string& commit, bool synced) {
  return core::to_json_line(Json{{"commit", commit},
                                 {"branch", "main"},
                                 {"timestamp", "2026-07-25T10:00:00Z"},
                                 {"agent", "claude-code"},
                                 {"summary", "earlier work"},
                                 {"synced", synced}}) +
         "\n";
}

// A repository whose ledger holds two pending records, a synced one and one
// corrupt line.
class LedgerRepo {
 public:
  LedgerRepo() {
    repo_.commit("first commit");
    ledger_text_ =
        line_for(kPending1, false) + line_for(kSynced, true) + kPlantedCorruptLine + "\n" + line_for(kPending2, false);
    std::filesystem::create_directories(ledger().parent_path());
    write_text(ledger(), ledger_text_);
  }
  const fs::path& root() const { return repo_.root(); }
  fs::path ledger() const { return paths::log_jsonl(root()); }
  const std::string& original_ledger() const { return ledger_text_; }
  std::string head() const { return repo_.head(); }

 private:
  GitRepo repo_;
  std::string ledger_text_;
};

struct Operation {
  std::function<void(const LedgerRepo&)> prepare;
  std::function<std::vector<std::string>(const LedgerRepo&)> args;
  // Checks what only this operation promises; `failed` is the call the
  // library failed, or nullptr when it failed none.
  std::function<void(const LedgerRepo&, const OpsRun&, const CountedCall* failed)> check;
};

std::vector<fs::path> leftover_temp_files(const fs::path& root) {
  std::vector<fs::path> found;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path().filename() == ".git") {
      it.disable_recursion_pending();
      continue;
    }
    if (it->path().filename().string().ends_with(".tmp")) found.push_back(it->path());
  }
  return found;
}

const CountedCall* failed_call(const OpsRun& run) {
  for (const CountedCall& call : run.calls) {
    if (call.failed) return &call;
  }
  return nullptr;
}

std::string describe(int error) { return std::strerror(error); }

int errno_of(const std::string& name) { return name == "ENOSPC" ? ENOSPC : name == "EINTR" ? EINTR : EIO; }

int records(const synccore::AttestationLog& log) { return log.attested + log.unattested + log.skipped; }

void check_common(const LedgerRepo& repo, const FaultPlan& plan, const OpsRun& run) {
  EXPECT_EQ(leftover_temp_files(repo.root()), std::vector<fs::path>{});
  EXPECT_EQ(synccore::read_attestation_log(repo.ledger()).corrupt, 1) << "only the planted line may be corrupt";
  EXPECT_TRUE(run.exit_code == kDone || run.exit_code == kThrew || run.exit_code == kNotFiled) << run.err;
  if (plan.error == "EINTR") {
    EXPECT_EQ(run.exit_code, kDone) << "an interrupted call was not retried: " << run.out << run.err;
  }
  if (run.exit_code == kThrew) {
    EXPECT_NE(run.err.find(describe(errno_of(plan.error))), std::string::npos)
        << "the message does not name the error: " << run.err;
  }
  if (run.exit_code == kNotFiled) {
    EXPECT_NE(run.out.find("not filed: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(describe(errno_of(plan.error))), std::string::npos) << run.out;
  }
}

bool contains_kind(const std::vector<CountedCall>& calls, const std::string& kind) {
  return std::any_of(calls.begin(), calls.end(), [&](const CountedCall& c) { return c.call == kind; });
}

// Counts the calls of `op`, then fails each in turn with each error.
void fail_each_call(const Operation& op) {
  long positions = 0;
  {
    const LedgerRepo repo;
    op.prepare(repo);
    const OpsRun clean = run_ledger_ops(op.args(repo), FaultPlan{.root = repo.root()});
    ASSERT_EQ(clean.exit_code, kDone) << clean.out << clean.err;
    op.check(repo, clean, nullptr);
    // A library that saw none of these would be testing nothing.
    for (const char* kind : {"open", "write", "close"}) {
      ASSERT_TRUE(contains_kind(clean.calls, kind)) << "no " << kind << " call was seen";
    }
    positions = static_cast<long>(clean.calls.size());
    std::string kinds;
    for (const CountedCall& call : clean.calls) kinds += " " + call.call;
    std::printf("%ld call positions:%s\n", positions, kinds.c_str());
  }
  const std::vector<std::pair<std::string, bool>> faults = {
      {"ENOSPC", false}, {"EIO", false}, {"EINTR", false}, {"ENOSPC", true}};
  for (const auto& [error, repeat] : faults) {
    for (long k = 1; k <= positions; ++k) {
      const LedgerRepo repo;
      op.prepare(repo);
      const FaultPlan plan{.root = repo.root(), .nth = k, .error = error, .repeat = repeat};
      const OpsRun run = run_ledger_ops(op.args(repo), plan);
      const CountedCall* failed = failed_call(run);
      SCOPED_TRACE(error + (repeat ? " from" : " at") + " call " + std::to_string(k) + ": " +
                   (failed ? failed->call + " " + failed->path : "none"));
      check_common(repo, plan, run);
      op.check(repo, run, failed);
    }
  }
}

TEST(FaultInjection, LedgerAppendKeepsTheRecordOrSaysItFailed) {
  fail_each_call({
      .prepare = [](const LedgerRepo&) {},
      .args =
          [](const LedgerRepo& repo) {
            return std::vector<std::string>{"append", repo.ledger(), kNew};
          },
      .check =
          [](const LedgerRepo& repo, const OpsRun& run, const CountedCall*) {
            const std::string text = read_text(repo.ledger());
            EXPECT_TRUE(text.starts_with(repo.original_ledger())) << "earlier lines changed:\n" << text;
            const bool logged = synccore::_commit_already_logged(repo.ledger(), kNew);
            EXPECT_EQ(logged, run.exit_code == kDone) << "exit " << run.exit_code << " " << run.err;
            EXPECT_EQ(records(synccore::read_attestation_log(repo.ledger())), 3 + (logged ? 1 : 0));
          },
  });
}

TEST(FaultInjection, LedgerRewriteIsWholeOldOrWholeNew) {
  fail_each_call({
      .prepare = [](const LedgerRepo&) {},
      .args =
          [](const LedgerRepo& repo) {
            return std::vector<std::string>{"mark", repo.ledger(), kPending1};
          },
      .check =
          [](const LedgerRepo& repo, const OpsRun& run, const CountedCall*) {
            const std::string text = read_text(repo.ledger());
            const synccore::AttestationLog log = synccore::read_attestation_log(repo.ledger());
            EXPECT_EQ(records(log), 3);
            // Marked in the ledger, or still in the journal of accepted uploads.
            const bool marked = log.uploaded == 2;
            if (text != repo.original_ledger()) {
              ASSERT_EQ(log.pending.size(), 1u) << text;
              EXPECT_EQ(log.pending[0]["commit"], kPending2);
              EXPECT_EQ(log.uploaded, 2);
              EXPECT_NE(text.find(kPlantedCorruptLine), std::string::npos) << "the corrupt line was dropped";
            }
            // Without the lock nothing is marked and the batch goes again;
            // every other success must have marked it.
            const bool lock_refused = std::any_of(run.calls.begin(), run.calls.end(), [](const CountedCall& call) {
              return call.failed && call.path.ends_with(".lock");
            });
            if (run.exit_code == kDone && !lock_refused) {
              EXPECT_TRUE(marked) << run.out;
            }
          },
  });
}

const std::string kPendingAttestation =
    "---\nagent: claude-code\nagent_model: claude-opus-4-6\ntimestamp: '2026-07-25T10:00:00Z'\n"
    "summary: Add retry to upload\n---\n";

TEST(FaultInjection, PendingFilingKeepsTheFileUntilTheRecordIsWritten) {
  fail_each_call({
      .prepare =
          [](const LedgerRepo& repo) { write_text(paths::commit_attestation(repo.root()), kPendingAttestation); },
      .args =
          [](const LedgerRepo& repo) {
            return std::vector<std::string>{"file", repo.root(), repo.head()};
          },
      .check =
          [](const LedgerRepo& repo, const OpsRun& run, const CountedCall*) {
            const fs::path pending = paths::commit_attestation(repo.root());
            const bool still_pending = fs::exists(pending);
            const bool logged = synccore::_commit_already_logged(repo.ledger(), repo.head());
            EXPECT_TRUE(still_pending || logged) << "the record was lost";
            if (still_pending) {
              EXPECT_EQ(read_text(pending), kPendingAttestation) << "the pending file changed";
            }
            if (run.exit_code == kDone) {
              // A pending file that could not be removed after its record was
              // written stays; filing it again replaces the line.
              EXPECT_TRUE(logged) << run.out;
              EXPECT_TRUE(fs::exists(paths::attestations_dir(repo.root()) / (repo.head() + ".yaml")));
            } else {
              EXPECT_TRUE(still_pending) << run.out << run.err;
              EXPECT_FALSE(logged) << "recorded and still pending: it would be filed twice";
            }
          },
  });
}

TEST(FaultInjection, ArchiveWriteNeverHidesAnUnloggedCommit) {
  fail_each_call({
      .prepare = [](const LedgerRepo&) {},
      .args =
          [](const LedgerRepo& repo) {
            return std::vector<std::string>{"archive", repo.ledger(), paths::attestations_dir(repo.root()), kNew};
          },
      .check =
          [](const LedgerRepo& repo, const OpsRun& run, const CountedCall*) {
            const bool logged = synccore::_commit_already_logged(repo.ledger(), kNew);
            // A commit counted as recorded is skipped by every later
            // catch-up, so it must really be in the ledger.
            EXPECT_TRUE(logged || !synccore::_already_recorded(repo.root(), kNew))
                << "archived but not in the ledger: no later run will record it";
            if (run.exit_code == kDone) {
              EXPECT_TRUE(logged);
              EXPECT_TRUE(fs::exists(paths::attestations_dir(repo.root()) / (kNew + ".yaml")));
            }
          },
  });
}

// Where the file system refuses locks (ENOLCK), nobody can hold the ledger
// lock, so waiting or deferring would defer for ever: appends go into the
// ledger, spooled lines are merged, marking and replacing proceed.
TEST(FaultInjection, WithoutFileLocksEveryWriterStillWrites) {
  const LedgerRepo repo;
  const FaultPlan no_locks{.root = repo.root(), .no_locks = true};
  // A line spooled earlier, while the lock was busy on another machine.
  write_text(synccore::detail::new_spool_name(repo.ledger()), line_for(kNew, false));

  ASSERT_EQ(run_ledger_ops({"append", repo.ledger(), std::string(40, '5')}, no_locks).exit_code, kDone);
  EXPECT_TRUE(synccore::detail::spool_files(repo.ledger()).empty()) << "the spool was not merged";
  EXPECT_EQ(records(synccore::read_attestation_log(repo.ledger())), 5);

  ASSERT_EQ(run_ledger_ops({"mark-all", repo.ledger()}, no_locks).exit_code, kDone);
  const synccore::AttestationLog log = synccore::read_attestation_log(repo.ledger());
  EXPECT_TRUE(log.pending.empty()) << read_text(repo.ledger());
  EXPECT_EQ(log.uploaded, 5);
  EXPECT_NE(read_text(repo.ledger()).find(kPlantedCorruptLine), std::string::npos);
}

}  // namespace
}  // namespace tamrik::testing
