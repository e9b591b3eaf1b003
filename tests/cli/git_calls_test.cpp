// How many git children the hook entries start. Each one costs about as
// much as tamrik's own start-up, and the post-commit hook runs inside every
// `git commit`, so a question asked twice is a regression. A wrapper first
// on PATH logs every git call before handing it to the real git.

#include "cli_fixture.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace tamrik::testing {
namespace {

fs::path real_git() {
  std::stringstream dirs(std::getenv("PATH"));
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((fs::path(dir) / "git").c_str(), X_OK) == 0) return fs::path(dir) / "git";
  }
  throw std::runtime_error("git is not on PATH");
}

class GitCalls : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    set_up_repository();
    write_text(wrappers_.path() / "git", "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + log_.string() + "'\nexec '" +
                                             real_git().string() + "' \"$@\"\n");
    ::chmod((wrappers_.path() / "git").c_str(), 0755);
    // The usual case: the commit under each new one is recorded already.
    ASSERT_EQ(tamrik({"sync", "--record-commit"}).exit_code, 0);
  }

  // A commit no hook has recorded yet.
  std::string commit_unrecorded(const std::string& subject) {
    repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m", subject});
    return repo_.head();
  }

  // Runs tamrik with the logging git first on PATH; the git calls it made,
  // one line of arguments each.
  std::vector<std::string> git_calls_of(std::vector<std::string> args, std::string input = "",
                                        std::vector<std::pair<std::string, std::string>> env = {}) {
    fs::remove(log_);
    env.emplace_back("PATH", wrappers_.path().string() + ":" + std::getenv("PATH"));
    const TamrikResult result =
        run_tamrik({.args = std::move(args), .cwd = repo_.root(), .input = std::move(input), .env = std::move(env)});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    return fs::exists(log_) ? lines_of(read_text(log_)) : std::vector<std::string>{};
  }

  TempDir wrappers_;
  fs::path log_ = wrappers_.path() / "git-calls.log";
};

TEST_F(GitCalls, ARecordReadsGitsFilesAndStartsNoGit) {
  const std::string head = commit_unrecorded("feat(cli): no git at all");

  EXPECT_EQ(git_calls_of({"sync", "--record-commit"}), std::vector<std::string>{});

  // And the record holds every answer.
  ASSERT_EQ(records_of(head), 1u);
  const ordered_json entry = ledger().back();
  EXPECT_EQ(entry["branch"], repo_.git({"rev-parse", "--abbrev-ref", "HEAD"}));
  EXPECT_EQ(entry["summary"], "feat(cli): no git at all");
  EXPECT_EQ(entry["timestamp"], repo_.git({"show", "-s", "--format=%aI", head}));
  EXPECT_EQ(entry["developer"]["git_author_email"], repo_.git({"config", "user.email"})) << entry.dump();
  EXPECT_TRUE(fs::exists(tamrik_dir() / "attestations" / (head + ".yaml")));

  // Recorded already, or made by an agent and marked unattested: still none.
  EXPECT_EQ(git_calls_of({"sync", "--record-commit"}), std::vector<std::string>{});
  const std::string agents = commit_unrecorded("fix: agent made this");
  EXPECT_EQ(git_calls_of({"sync", "--record-commit"}, "", {{"CLAUDE_CODE_SESSION_ID", "5e55-0000"}}),
            std::vector<std::string>{});
  EXPECT_EQ(read_text(tamrik_dir() / ".unattested-head"), agents + "\n");
  EXPECT_EQ(ledger().back()["agent"], "claude-code");
}

TEST_F(GitCalls, ACommitGitPackedAwayAsksEachQuestionOnce) {
  repo_.git({"checkout", "-q", "--detach"});
  const std::string head = commit_unrecorded("docs: detached and packed");
  repo_.git({"gc", "-q"});

  const std::vector<std::string> calls = git_calls_of({"sync", "--record-commit"});

  // The hash with its parents, the branch and the git directory (where a
  // rebase names its branch); the commit's date, author, committer (the
  // identity that just made it) and subject.
  ASSERT_EQ(calls.size(), 2u) << ::testing::PrintToString(calls);
  EXPECT_EQ(calls[0], "rev-parse HEAD^{commit} HEAD^@ HEAD^{commit} --abbrev-ref HEAD --absolute-git-dir");
  EXPECT_EQ(calls[1], "show -s --no-show-signature --format=%aI%n%an%n%ae%n%cn%n%ce%n%s " + head);
  ASSERT_EQ(records_of(head), 1u);
  EXPECT_EQ(ledger().back()["branch"], "HEAD");
  EXPECT_EQ(ledger().back()["summary"], "docs: detached and packed");
}

TEST_F(GitCalls, AToolCallThatIsNotACommitStartsNoGit) {
  const std::string head = commit_unrecorded("feat: unseen");
  const ordered_json read = {{"session_id", "5e55"},
                             {"cwd", repo_.root().string()},
                             {"hook_event_name", "PostToolUse"},
                             {"tool_name", "Read"},
                             {"tool_input", {{"file_path", "src/main.cpp"}}}};
  const ordered_json status = {{"session_id", "5e55"},
                               {"cwd", repo_.root().string()},
                               {"tool_name", "Bash"},
                               {"tool_input", {{"command", "git status"}}},
                               {"tool_response", {{"interrupted", false}}}};

  for (const ordered_json& payload : {read, status}) {
    EXPECT_EQ(git_calls_of({"attest", "add", "--from-hook", "--agent", "claude-code"}, payload.dump()),
              std::vector<std::string>{})
        << payload.dump();
  }
  EXPECT_EQ(records_of(head), 0u);
}

}  // namespace
}  // namespace tamrik::testing
