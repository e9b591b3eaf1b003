// The hook entries are taken before the full command line is built, but
// only in the exact spellings the installed hooks use: every other
// spelling must meet the parser, with its usage errors, as before.

#include "cli_fixture.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace tamrik::testing {
namespace {

class HookEntries : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    set_up_repository();
  }

  std::string commit_unrecorded(const std::string& subject) {
    repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m", subject});
    return repo_.head();
  }
};

TEST_F(HookEntries, TheInstalledSpellingsRunSilently) {
  const std::string head = commit_unrecorded("feat: recorded by the post-commit entry");
  const TamrikResult record = tamrik({"sync", "--record-commit"});
  EXPECT_EQ(record.exit_code, 0) << record.err;
  EXPECT_EQ(record.out + record.err, "");
  EXPECT_EQ(records_of(head), 1u);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"attest", "add", "--from-hook"},
        std::vector<std::string>{"attest", "add", "--from-hook", "--agent", "claude-code"}}) {
    const TamrikResult hook = tamrik(args, R"({"tool_name":"Read","tool_input":{"file_path":"a"}})");
    EXPECT_EQ(hook.exit_code, 0) << hook.err;
    EXPECT_EQ(hook.out + hook.err, "");
  }
}

// Another process holds the ledger lock for 8 s (a long sync on a big
// ledger): the hook gives up waiting within its short budget and spools the
// record instead of holding the commit until the lock is free; the next
// writer merges the spool.
TEST_F(HookEntries, TheCommitHookSpoolsRatherThanWaitForTheLock) {
  repo_.commit("feat: first recorded commit");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    const int fd = ::open((tamrik_dir() / "log.jsonl.lock").c_str(), O_RDONLY | O_CREAT, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
    (void)!::write(ready[1], "x", 1);
    ::sleep(8);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  const std::string head = repo_.commit("feat: committed while the ledger is locked");
  const bool ledger_holds_it = read_text(tamrik_dir() / "log.jsonl").find(head) != std::string::npos;
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);

  EXPECT_FALSE(ledger_holds_it) << "the hook waited for the lock";
  const std::string next = repo_.commit("feat: after the lock is free");
  EXPECT_EQ(records_of(head), 1u);
  EXPECT_EQ(records_of(next), 1u);
}

TEST_F(HookEntries, OtherSpellingsMeetTheParser) {
  // Accepted by the parser: the same silent run.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"attest", "add", "--from-hook", "--agent=codex"},
        std::vector<std::string>{"attest", "add", "--from-hook", "--user"},
        std::vector<std::string>{"attest", "add", "--agent", "codex", "--from-hook"},
        std::vector<std::string>{"sync", "--record-rewrite=amend"}}) {
    const TamrikResult run = tamrik(args, "{}");
    EXPECT_EQ(run.exit_code, 0) << ::testing::PrintToString(args) << run.err;
    EXPECT_EQ(run.out, "") << ::testing::PrintToString(args);
  }

  // Refused by the parser: usage errors, not a silent hook run.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"attest", "add", "--from-hook", "--agent"},
        std::vector<std::string>{"attest", "add", "--from-hook", "extra", "words"},
        std::vector<std::string>{"sync", "--record-commit", "--bogus"},
        std::vector<std::string>{"sync", "--record-rewrite"},
        std::vector<std::string>{"sync", "--record-rewrite", "amend", "--record-commit"}}) {
    const TamrikResult run = tamrik(args, "{}");
    EXPECT_EQ(run.exit_code, 2) << ::testing::PrintToString(args) << run.out << run.err;
    EXPECT_NE(run.err, "") << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace tamrik::testing
