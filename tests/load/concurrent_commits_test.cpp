// Load: sixteen committers at once in one repository set up with tamrik and
// linked to a tamrik-platform, while session-start catch-ups and syncs run
// over and over. Afterwards, and after one last sync, every commit is in its
// ledger exactly once and synced, the platform holds each exactly once, and
// no spool or temporary file is left behind.
//
// TAMRIK_LOAD_COMMITS sets the number of commits: by default 160, about a
// minute on two cores with sanitizers; the full run is 2000 (run the binary
// itself for that, ctest's limit per test is five minutes).

#include "cli/cli_fixture.hpp"
#include "load/marked_processes.hpp"
#include "platform/platform_process.hpp"

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>

namespace tamrik::testing {
namespace {

constexpr int kCommitters = 16;
constexpr auto kSettleLimit = std::chrono::seconds(300);

int total_commits() {
  const char* text = std::getenv("TAMRIK_LOAD_COMMITS");
  const int count = text == nullptr ? 0 : std::atoi(text);
  return count > 0 ? count : 160;
}

// Commits with a fresh message until it has made `count`; another
// committer holding one of git's locks is waited out.
constexpr const char* kCommitter = R"sh(
cd "$1" || exit 1
made=0
failures=0
while [ "$made" -lt "$2" ]; do
  if git commit -q --allow-empty -m "load: $3 commit $made" >/dev/null 2>&1; then
    made=$((made + 1))
    failures=0
  elif [ "$failures" -lt 1000 ]; then
    failures=$((failures + 1))
    sleep 0.01
  else
    exit 1
  fi
done
)sh";

// What an agent harness does at every session start, in each checkout in
// turn, until the stop file appears.
constexpr const char* kSessionStarts = R"sh(
stop=$1
tamrik=$2
shift 2
while [ ! -e "$stop" ]; do
  for dir in "$@"; do
    printf '{"session_id":"load","source":"startup","cwd":"%s"}' "$dir" |
      "$tamrik" hook session-start --agent claude-code >/dev/null 2>&1
  done
done
)sh";

constexpr const char* kSyncs = R"sh(
stop=$1
tamrik=$2
shift 2
while [ ! -e "$stop" ]; do
  for dir in "$@"; do
    (cd "$dir" && "$tamrik" sync) >/dev/null 2>&1
  done
done
)sh";

struct LedgerCount {
  std::map<std::string, int> lines_per_commit;
  int unsynced = 0;
  int unreadable = 0;
};

LedgerCount count_ledger(const fs::path& checkout) {
  LedgerCount count;
  for (const std::string& line : lines_of(read_text(checkout / ".tamrik" / "log.jsonl"))) {
    if (line.empty()) continue;
    const ordered_json entry = ordered_json::parse(line, nullptr, false);
    if (!entry.is_object() || !entry.contains("commit")) {
      ++count.unreadable;
      continue;
    }
    ++count.lines_per_commit[entry.value("commit", "")];
    if (!entry.value("synced", false)) ++count.unsynced;
  }
  return count;
}

// Files a writer leaves only when something went wrong: unmerged spools of
// appends and temporary files of rewrites.
std::vector<std::string> leftovers(const fs::path& checkout) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(checkout / ".tamrik")) {
    const std::string name = entry.path().filename().string();
    if (name.find(".spool-") != std::string::npos || name.ends_with(".tmp")) found.push_back(entry.path().string());
  }
  return found;
}

std::string sample(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size() && i < 5; ++i) text += items[i] + "\n";
  return text;
}

class ConcurrentCommits : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    ::setenv("TAMRIK_SKIP_PLATFORM_SKILLS", "1", 1);
    repo_.git({"remote", "add", "origin", "git@example.com:acme/load.git"});
    const TamrikResult login = tamrik({"auth", "login", "--api-url", platform_.url()}, platform_.key() + "\n");
    ASSERT_EQ(login.exit_code, 0) << login.err;
  }
  void TearDown() override {
    ::unsetenv("TAMRIK_SKIP_PLATFORM_SKILLS");
    CliTest::TearDown();
  }

  // Sets tamrik up in `checkout` and links it to the platform's project.
  void set_up_and_link(const fs::path& checkout) {
    const TamrikResult setup = tamrik({"setup", "--agents", "claude-code"}, "", checkout);
    ASSERT_EQ(setup.exit_code, 0) << setup.out << setup.err;
    const TamrikResult link = tamrik({"sync"}, "", checkout);
    ASSERT_EQ(link.exit_code, 0) << link.out << link.err;
  }

  // A linked worktree of the repository on its own branch.
  fs::path add_worktree(int number) {
    const fs::path dir = worktrees_.path() / ("w" + std::to_string(number));
    repo_.git({"worktree", "add", "-q", "-b", "load-" + std::to_string(number), dir.string()});
    return dir;
  }

  // Runs the committers (one per entry of `committer_dirs`), the
  // session-start and sync loops over `checkouts`, then a last sync in each
  // checkout once everything they set off has finished.
  void run_load(const std::vector<fs::path>& committer_dirs, const std::vector<fs::path>& checkouts) {
    MarkedProcesses processes;
    const fs::path stop = worktrees_.path() / "stop";
    std::vector<std::string> loop_args = {stop.string(), tamrik_binary().string()};
    for (const fs::path& checkout : checkouts) loop_args.push_back(checkout.string());

    const auto started = std::chrono::steady_clock::now();
    const int total = total_commits();
    std::vector<pid_t> committers;
    for (size_t n = 0; n < committer_dirs.size(); ++n) {
      const int share = total / kCommitters + (static_cast<int>(n) < total % kCommitters ? 1 : 0);
      committers.push_back(processes.start_shell(
          kCommitter, {committer_dirs[n].string(), std::to_string(share), "c" + std::to_string(n)}));
    }
    const pid_t session_starts = processes.start_shell(kSessionStarts, loop_args);
    const pid_t syncs = processes.start_shell(kSyncs, loop_args);
    for (const pid_t committer : committers)
      EXPECT_EQ(MarkedProcesses::wait_exit(committer), 0) << "a committer gave up";
    write_text(stop, "");
    MarkedProcesses::wait_exit(session_starts);
    MarkedProcesses::wait_exit(syncs);
    ASSERT_TRUE(processes.wait_until_all_gone(kSettleLimit)) << "hooks or detached uploads still running";

    for (const fs::path& checkout : checkouts) {
      const TamrikResult last = run_tamrik({.args = {"sync"}, .cwd = checkout, .env = {processes.marker()}});
      EXPECT_EQ(last.exit_code, 0) << last.out << last.err;
    }
    ASSERT_TRUE(processes.wait_until_all_gone(kSettleLimit));
    seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  }

  // The commits of `checkout`'s history made by the committers, and all of
  // its history.
  std::pair<std::set<std::string>, std::set<std::string>> history_of(const fs::path& checkout) const {
    std::set<std::string> load, all;
    const CommandResult log = run_command({"git", "log", "--format=%H %s"}, checkout);
    for (const std::string& line : lines_of(log.out)) {
      const std::string hash = line.substr(0, line.find(' '));
      all.insert(hash);
      if (line.find(" load: ") != std::string::npos) load.insert(hash);
    }
    return {load, all};
  }

  // Every record the platform holds for the project, newest first.
  std::vector<std::string> platform_commits() const {
    httplib::Client client("127.0.0.1", platform_.port());
    const httplib::Headers auth = {{"Authorization", "Bearer " + platform_.key()}};
    std::vector<std::string> commits;
    while (true) {
      // The platform's first and only project, which every checkout linked.
      std::string query = "/v1/projects/1/attestations?limit=1000";
      if (!commits.empty()) query += "&after=" + commits.back();
      const auto page = client.Get(query, auth);
      if (!page || page->status != 200) throw std::runtime_error("cannot list the platform's records");
      const ordered_json records = ordered_json::parse(page->body)["attestations"];
      if (records.empty()) return commits;
      for (const ordered_json& record : records) commits.push_back(record.value("commit", ""));
    }
  }

  // Every commit of the committers in the repository's one ledger (in
  // `home`, whichever checkout made it) exactly once, synced; the platform
  // holding each ledger record exactly once; nothing left behind.
  void expect_every_commit_once(const std::vector<fs::path>& checkouts, const fs::path& home) {
    std::set<std::string> load, all;
    for (const fs::path& checkout : checkouts) {
      const auto [made_here, history] = history_of(checkout);
      load.insert(made_here.begin(), made_here.end());
      all.insert(history.begin(), history.end());
    }
    std::set<std::string> recorded;
    std::vector<std::string> missing, duplicated, foreign;
    int records = 0;
    const LedgerCount ledger = count_ledger(home);
    EXPECT_EQ(ledger.unsynced, 0);
    EXPECT_EQ(ledger.unreadable, 0);
    for (const auto& [commit, lines] : ledger.lines_per_commit) {
      records += lines;
      recorded.insert(commit);
      if (lines > 1) duplicated.push_back(commit);
      if (all.count(commit) == 0) foreign.push_back(commit);
    }
    for (const std::string& commit : load) {
      if (ledger.lines_per_commit.count(commit) == 0) missing.push_back(commit);
    }
    const std::vector<std::string> left = leftovers(home);
    EXPECT_TRUE(left.empty()) << sample(left);
    std::cout << "load: " << load.size() << " commits in " << seconds_ << " s; " << records << " ledger records, "
              << duplicated.size() << " duplicated, " << missing.size() << " missing\n";
    EXPECT_EQ(static_cast<int>(load.size()), total_commits());
    EXPECT_TRUE(missing.empty()) << missing.size() << " commits not recorded, e.g.\n" << sample(missing);
    EXPECT_TRUE(duplicated.empty()) << duplicated.size() << " commits recorded twice, e.g.\n" << sample(duplicated);
    EXPECT_TRUE(foreign.empty()) << sample(foreign);

    const std::vector<std::string> on_platform = platform_commits();
    const std::set<std::string> held(on_platform.begin(), on_platform.end());
    EXPECT_EQ(on_platform.size(), held.size()) << "the platform lists a commit twice";
    EXPECT_EQ(held, recorded);
  }

  TempDir worktrees_;
  PlatformProcess platform_;
  double seconds_ = 0;
};

// Sixteen agents, each in its own worktree: the post-commit hooks of all of
// them fire together into the repository's one ledger.
TEST_F(ConcurrentCommits, SixteenWorktreesEachRecordEveryCommitOnce) {
  std::vector<fs::path> checkouts;
  for (int n = 0; n < kCommitters; ++n) {
    checkouts.push_back(add_worktree(n));
    ASSERT_NO_FATAL_FAILURE(set_up_and_link(checkouts.back()));
  }
  ASSERT_NO_FATAL_FAILURE(run_load(checkouts, checkouts));
  expect_every_commit_once(checkouts, repo_.root());
}

// Sixteen agents sharing one checkout, so one ledger; git's index lock
// takes their commits one at a time, but each commit's hook runs while the
// next commits land, so a hook often finds HEAD already moved on.
TEST_F(ConcurrentCommits, SixteenAgentsInOneCheckoutRecordEveryCommitOnce) {
  ASSERT_NO_FATAL_FAILURE(set_up_and_link(repo_.root()));
  ASSERT_NO_FATAL_FAILURE(run_load(std::vector<fs::path>(kCommitters, repo_.root()), {repo_.root()}));
  expect_every_commit_once({repo_.root()}, repo_.root());
}

}  // namespace
}  // namespace tamrik::testing
