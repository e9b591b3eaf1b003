// The hook entries are taken before the full command line is built, but
// only in the exact spellings the installed hooks use: every other
// spelling must meet the parser, with its usage errors, as before.

#include "cli_fixture.hpp"

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

TEST_F(HookEntries, OtherSpellingsMeetTheParser) {
  // Accepted by the parser: the same silent run.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"attest", "add", "--from-hook", "--agent=codex"},
        std::vector<std::string>{"attest", "add", "--from-hook", "--user"},
        std::vector<std::string>{"attest", "add", "--agent", "codex", "--from-hook"}}) {
    const TamrikResult run = tamrik(args, "{}");
    EXPECT_EQ(run.exit_code, 0) << ::testing::PrintToString(args) << run.err;
    EXPECT_EQ(run.out, "") << ::testing::PrintToString(args);
  }

  // Refused by the parser: usage errors, not a silent hook run.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"attest", "add", "--from-hook", "--agent"},
        std::vector<std::string>{"attest", "add", "--from-hook", "extra", "words"},
        std::vector<std::string>{"sync", "--record-commit", "--bogus"}}) {
    const TamrikResult run = tamrik(args, "{}");
    EXPECT_EQ(run.exit_code, 2) << ::testing::PrintToString(args) << run.out << run.err;
    EXPECT_NE(run.err, "") << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace tamrik::testing
