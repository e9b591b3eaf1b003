// Rewritten history through the installed hooks: amend, interactive rebase,
// pull --rebase and cherry-pick carry attestations to the new commits, mark
// the records of the commits that left the history, and keep one line per
// commit; the platform then lists only the records still in the history.

#include "cli_fixture.hpp"
#include "host/services/git_identity.hpp"
#include "platform/platform_process.hpp"

#include <httplib.h>
#include <sys/stat.h>

#include <map>
#include <set>

namespace tamrik::testing {
namespace {

class RewrittenHistory : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    set_up_repository();
    branch_ = repo_.git({"rev-parse", "--abbrev-ref", "HEAD"});
  }

  // Commits a new file with an attestation written for it by `tamrik attest`.
  std::string attested_commit(const std::string& summary, const std::string& file) {
    write_text(repo_.root() / file, summary + "\n");
    repo_.git({"add", file});
    const std::string hash = services::shared::get_staged_diff_hash(repo_.root()).value();
    const TamrikResult attest =
        tamrik({"attest", "--staged-diff-hash", hash, "--model", "claude-opus-4-6", "--summary", summary});
    EXPECT_EQ(attest.exit_code, 0) << attest.err;
    repo_.git({"commit", "-q", "-m", "feat: " + file});
    return repo_.head();
  }

  // The one line of `commit`; fails the test when it has none or several.
  ordered_json line_of(const std::string& commit) const {
    EXPECT_EQ(records_of(commit), 1u) << commit;
    for (const ordered_json& entry : ledger()) {
      if (entry.value("commit", "") == commit) return entry;
    }
    return ordered_json::object();
  }

  std::string archive_of(const std::string& commit) const {
    return read_text(tamrik_dir() / "attestations" / (commit + ".yaml"));
  }

  CommandResult git_with(const std::vector<std::string>& env, std::vector<std::string> args) const {
    std::vector<std::string> argv{"env"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.emplace_back("git");
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, repo_.root());
  }

  // `git rebase -i <onto>` with `todo` as the list of steps.
  void rebase_interactively(const std::string& onto, const std::string& todo) {
    const fs::path editor = scripts_.path() / "todo.sh";
    write_text(editor, "#!/bin/sh\ncat > \"$1\" <<'EOF'\n" + todo + "EOF\n");
    ::chmod(editor.c_str(), 0755);
    const CommandResult rebase =
        git_with({"GIT_SEQUENCE_EDITOR=" + editor.string(), "GIT_EDITOR=true"}, {"rebase", "-q", "-i", onto});
    ASSERT_EQ(rebase.exit_code, 0) << rebase.out;
  }

  // One line per commit; every recorded commit that left the history (but
  // those in `dropped`) is marked rewritten, and its chain of rewrites (a
  // squash amends the commit several times) ends in the history.
  void expect_history_consistent(const std::set<std::string>& dropped = {}) const {
    const std::vector<std::string> listed = lines_of(repo_.git({"rev-list", "HEAD"}));
    const std::set<std::string> history(listed.begin(), listed.end());
    std::map<std::string, std::string> rewritten_to;
    for (const ordered_json& entry : ledger()) {
      const std::string commit = entry.value("commit", "");
      EXPECT_EQ(rewritten_to.count(commit), 0u) << "two lines for " << commit;
      rewritten_to[commit] = entry.value("rewritten_to", "");
    }
    for (auto [commit, next] : rewritten_to) {
      if (history.count(commit) != 0 || dropped.count(commit) != 0) {
        EXPECT_EQ(next, "") << commit;
        continue;
      }
      for (int step = 0; step < 10 && history.count(next) == 0 && rewritten_to.count(next) != 0; ++step) {
        next = rewritten_to[next];
      }
      EXPECT_EQ(history.count(next), 1u) << commit << " is not rewritten into the history";
    }
  }

  std::string branch_;
  TempDir scripts_;
};

TEST_F(RewrittenHistory, AmendCarriesTheAttestationOnceAndMarksTheOldRecord) {
  const std::string old_commit = attested_commit("Add the parser", "parser.txt");
  repo_.git({"commit", "-q", "--amend", "-m", "feat: the parser, reworded"});
  const std::string amended = repo_.head();

  const ordered_json carried = line_of(amended);
  EXPECT_FALSE(carried.contains("event")) << carried.dump();
  EXPECT_EQ(carried["summary"], "Add the parser");
  EXPECT_EQ(carried["branch"], branch_);
  EXPECT_EQ(carried["rewritten_from"], ordered_json::array({old_commit}));
  EXPECT_EQ(carried["synced"], false);
  EXPECT_EQ(line_of(old_commit)["rewritten_to"], amended);
  EXPECT_NE(archive_of(amended).find("summary: Add the parser"), std::string::npos);
  expect_history_consistent();

  // The hook running again (or git listing the pair twice) changes nothing.
  const std::string before = read_text(tamrik_dir() / "log.jsonl");
  const TamrikResult again = tamrik({"sync", "--record-rewrite", "amend"}, old_commit + " " + amended + "\n");
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(again.out + again.err, "");
  EXPECT_EQ(read_text(tamrik_dir() / "log.jsonl"), before);
}

TEST_F(RewrittenHistory, InteractiveRebaseCarriesThroughReorderSquashFixupAndDrop) {
  const std::string base = repo_.head();
  const std::string a = attested_commit("Add a", "a.txt");
  const std::string b = attested_commit("Add b", "b.txt");
  ::setenv("CLAUDE_CODE_SESSION_ID", "5e55-rebase", 1);  // an agent's commit, unattested
  const std::string c = repo_.commit("fix: c by an agent", "c.txt");
  ::unsetenv("CLAUDE_CODE_SESSION_ID");
  const std::string d = attested_commit("Add d", "d.txt");
  const std::string e = repo_.commit("chore: e", "e.txt");
  ASSERT_EQ(line_of(c)["agent"], "claude-code");

  rebase_interactively(base, "pick " + b + "\npick " + a + "\nfixup " + c + "\nsquash " + d + "\ndrop " + e + "\n");
  const std::string squashed = repo_.head();
  const std::string moved = repo_.git({"rev-parse", "HEAD~1"});

  const ordered_json moved_line = line_of(moved);
  EXPECT_EQ(moved_line["summary"], "Add b");
  EXPECT_EQ(moved_line["branch"], branch_);
  EXPECT_EQ(moved_line["rewritten_from"], ordered_json::array({b}));
  EXPECT_FALSE(moved_line.contains("cherry_picked_from")) << moved_line.dump();

  const ordered_json squashed_line = line_of(squashed);
  EXPECT_FALSE(squashed_line.contains("event")) << squashed_line.dump();
  EXPECT_EQ(squashed_line["summary"], "Add a");
  EXPECT_EQ(squashed_line["branch"], branch_);
  for (const std::string& from : {a, c, d}) {
    EXPECT_EQ(line_of(from)["rewritten_to"], squashed);
    EXPECT_NE(squashed_line["rewritten_from"].dump().find(from), std::string::npos) << from;
  }
  // The first attestation is the document; both are kept, in history order.
  const std::string archive = archive_of(squashed);
  EXPECT_TRUE(archive.starts_with("summary: Add a\n") || archive.find("\nsummary: Add a\n") != std::string::npos)
      << archive;
  const size_t listed = archive.find("attestations:\n");
  ASSERT_NE(listed, std::string::npos) << archive;
  EXPECT_LT(archive.find("summary: Add a", listed), archive.find("summary: Add d", listed)) << archive;
  EXPECT_EQ(archive.find("summary: Add b"), std::string::npos) << archive;

  EXPECT_FALSE(line_of(e).contains("rewritten_to"));
  expect_history_consistent({e});
}

TEST_F(RewrittenHistory, PullRebaseCarriesTheAttestationOntoTheFetchedCommits) {
  const TempDir remote, other;
  ASSERT_EQ(run_command({"git", "init", "-q", "--bare", remote.path().string()}).exit_code, 0);
  repo_.git({"remote", "add", "origin", remote.path().string()});
  repo_.git({"push", "-q", "-u", "origin", "HEAD"});
  ASSERT_EQ(run_command({"git", "clone", "-q", remote.path().string(), "."}, other.path()).exit_code, 0);
  write_text(other.path() / "theirs.txt", "theirs\n");
  ASSERT_EQ(run_command({"git", "add", "theirs.txt"}, other.path()).exit_code, 0);
  ASSERT_EQ(run_command({"git", "commit", "-q", "-m", "feat: theirs"}, other.path()).exit_code, 0);
  ASSERT_EQ(run_command({"git", "push", "-q", "origin", "HEAD"}, other.path()).exit_code, 0);

  const std::string ours = attested_commit("Add ours", "ours.txt");
  const CommandResult pull = git_with({}, {"pull", "-q", "--rebase"});
  ASSERT_EQ(pull.exit_code, 0) << pull.out;
  const std::string rebased = repo_.head();
  ASSERT_NE(rebased, ours);

  const ordered_json carried = line_of(rebased);
  EXPECT_EQ(carried["summary"], "Add ours");
  EXPECT_EQ(carried["branch"], branch_);
  EXPECT_EQ(carried["rewritten_from"], ordered_json::array({ours}));
  EXPECT_EQ(line_of(ours)["rewritten_to"], rebased);
  expect_history_consistent();
}

TEST_F(RewrittenHistory, CherryPickCarriesTheRecordAndLeavesTheOriginalInPlace) {
  repo_.git({"checkout", "-q", "-b", "side"});
  const std::string picked = attested_commit("Add the fix", "fix.txt");
  repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m", "chore: never recorded"});
  const std::string unrecorded = repo_.head();
  repo_.git({"checkout", "-q", branch_});
  repo_.commit("feat: main moves on", "main.txt");

  repo_.git({"cherry-pick", picked});
  const ordered_json copy = line_of(repo_.head());
  EXPECT_FALSE(copy.contains("event")) << copy.dump();
  EXPECT_EQ(copy["summary"], "Add the fix");
  EXPECT_EQ(copy["branch"], branch_);
  EXPECT_EQ(copy["cherry_picked_from"], ordered_json::array({picked}));
  EXPECT_FALSE(copy.contains("rewritten_from")) << copy.dump();
  EXPECT_FALSE(line_of(picked).contains("rewritten_to"));

  repo_.git({"cherry-pick", "--allow-empty", unrecorded});
  const ordered_json bare = line_of(repo_.head());
  EXPECT_EQ(bare["event"], "commit_unattested");
  EXPECT_FALSE(bare.contains("cherry_picked_from")) << bare.dump();
}

TEST_F(RewrittenHistory, ThePostRewriteHookIsInstalledReportedAndRemoved) {
  const fs::path hook = repo_.root() / ".git" / "hooks" / "post-rewrite";
  EXPECT_TRUE(ordered_json::parse(tamrik({"status", "--json"}).out)["hooks"]["post_rewrite"]);

  // A user's own post-rewrite lines still get git's list after ours.
  const std::string user_lines = "cat > \"$(git rev-parse --git-dir)/user-saw\"\n";
  write_text(hook, read_text(hook) + user_lines);
  const std::string old_commit = repo_.commit("feat: amended next");
  repo_.git({"commit", "-q", "--amend", "-m", "feat: amended"});
  EXPECT_EQ(read_text(repo_.root() / ".git" / "user-saw"), old_commit + " " + repo_.head() + "\n");

  ASSERT_EQ(tamrik({"setup", "--uninstall"}).exit_code, 0);
  EXPECT_EQ(read_text(hook), "#!/bin/sh\n" + user_lines);
  fs::remove(hook);
  ASSERT_EQ(tamrik({"setup"}).exit_code, 0);  // repairs it
  EXPECT_TRUE(ordered_json::parse(tamrik({"status", "--json"}).out)["hooks"]["post_rewrite"]);
}

TEST_F(RewrittenHistory, ThePlatformListsTheSquashedCommitWithBothAttestationsAndHidesWhatItReplaced) {
  PlatformProcess platform;
  repo_.git({"remote", "add", "origin", "git@example.com:acme/rewritten.git"});
  ::setenv("TAMRIK_SKIP_PLATFORM_SKILLS", "1", 1);
  ASSERT_EQ(tamrik({"auth", "login", "--api-url", platform.url()}, platform.key() + "\n").exit_code, 0);
  const std::string base = repo_.head();
  const std::string a = attested_commit("Add a", "a.txt");
  const std::string b = attested_commit("Add b", "b.txt");
  ASSERT_EQ(tamrik({"sync"}).exit_code, 0);  // the originals reach the platform first

  rebase_interactively(base, "pick " + a + "\nsquash " + b + "\n");
  const std::string squashed = repo_.head();
  const TamrikResult sync = tamrik({"sync"});
  ::unsetenv("TAMRIK_SKIP_PLATFORM_SKILLS");
  ASSERT_EQ(sync.exit_code, 0) << sync.out << sync.err;

  httplib::Client client(platform.url());
  const auto listing = [&](const std::string& query) {
    const httplib::Result result =
        client.Get("/v1/projects/1/attestations?limit=100" + query, {{"Authorization", "Bearer " + platform.key()}});
    EXPECT_TRUE(result && result->status == 200);
    std::map<std::string, ordered_json> records;
    const ordered_json body = ordered_json::parse(result->body);
    for (const ordered_json& record : body["attestations"]) records[record["commit"]] = record;
    return records;
  };
  const auto listed = listing("");
  EXPECT_EQ(listed.count(a) + listed.count(b), 0u);
  ASSERT_EQ(listed.count(squashed), 1u);
  const ordered_json& record = listed.at(squashed);
  EXPECT_EQ(record["attestation"]["summary"], "Add a");
  EXPECT_FALSE(record["attestation"].contains("attestations"));
  ASSERT_EQ(record["attestations"].size(), 2u);
  EXPECT_EQ(record["attestations"][1]["summary"], "Add b");
  EXPECT_EQ(listing("&include_superseded=1").at(a)["superseded_by"], squashed);
}

}  // namespace
}  // namespace tamrik::testing
