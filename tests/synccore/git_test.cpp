#include "synccore/git.hpp"

#include "core/git_runner.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <regex>

namespace tamrik::synccore {
namespace {

using testing::GitRepo;
using testing::TempDir;
using testing::write_text;

TEST(Git, AnswersOrGivesAnOrdinaryEmptyValue) {
  GitRepo repo;
  EXPECT_EQ(_git_rev_parse({"HEAD"}, repo.root()), "unknown");  // no commits yet
  EXPECT_EQ(_resolve_full_sha(repo.root(), "HEAD"), std::nullopt);
  EXPECT_EQ(_resolve_full_sha(repo.root(), "unknown"), std::nullopt);

  const std::string sha = repo.commit("feat: first");
  EXPECT_EQ(_git({"rev-parse", "HEAD"}, repo.root()), sha);
  EXPECT_EQ(_git_rev_parse({"--abbrev-ref", "HEAD"}, repo.root()), "main");
  EXPECT_EQ(_resolve_full_sha(repo.root(), sha.substr(0, 8)), sha);
  EXPECT_EQ(_resolve_full_sha(repo.root(), "main"), sha);

  TempDir elsewhere;
  EXPECT_EQ(_git_rev_parse({"--abbrev-ref", "HEAD"}, elsewhere.path()), "unknown");
  EXPECT_EQ(_git({"status"}, elsewhere.path() / "missing"), "");
  // A non-zero exit gives "" even when git printed something.
  EXPECT_EQ(_git({"log", "--format=%H", "no-such-branch", "--"}, repo.root()), "");
  EXPECT_EQ(_git({"cat-file", "-t", sha, "--bogus-flag"}, repo.root()), "");

  repo.git({"checkout", "-q", "--detach"});
  EXPECT_EQ(_git_rev_parse({"--abbrev-ref", "HEAD"}, repo.root()), "HEAD");
}

TEST(Git, PeelsTagsAndRefusesTrees) {
  GitRepo repo;
  const std::string sha = repo.commit("first");
  repo.git({"tag", "-a", "v1", "-m", "release"});
  EXPECT_NE(repo.git({"rev-parse", "v1"}), sha);  // the tag object itself
  EXPECT_EQ(_resolve_full_sha(repo.root(), "v1"), sha);
  const std::string tree = repo.git({"rev-parse", "HEAD^{tree}"});
  EXPECT_EQ(_resolve_full_sha(repo.root(), tree), std::nullopt);
}

TEST(Git, WorksInSha256Repositories) {
  GitRepo repo("sha256");
  const std::string sha = repo.commit("first");
  ASSERT_EQ(sha.size(), 64u);
  EXPECT_EQ(_resolve_full_sha(repo.root(), "HEAD"), sha);
}

TEST(Git, DecodesBadBytesWithReplacement) {
  GitRepo repo;
  repo.commit("latin-1 file", "menu.txt", "caf\xe9\n");
  EXPECT_EQ(_git({"show", "HEAD:menu.txt"}, repo.root()), "caf\xef\xbf\xbd");
}

TEST(Git, AHungGitIsKilledAtTheLimitWithWhatItStarted) {
  GitRepo repo;
  repo.commit("first");
  // An alias that never returns stands in for git waiting on a lock; the
  // shell it starts writes the pid of its own `sleep`.
  const std::string pid_file = (repo.root() / ".git" / "sleep.pid").string();
  repo.git({"config", "alias.hang", "!sleep 30 & echo $! > '" + pid_file + "'; wait"});
  const auto saved = core::git_time_limit;
  // Long enough for the shell to have written it on a loaded machine.
  core::git_time_limit = std::chrono::seconds(2);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(_git({"hang"}, repo.root()), "");
  core::git_time_limit = saved;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_TRUE(testing::process_gone_soon(std::stoi(testing::read_text(pid_file)))) << "git's own child outlived it";
}

TEST(InferTaskType, ReadsSubjectPrefixesThenBranches) {
  struct Case {
    std::optional<std::string_view> subject, branch;
    std::optional<std::string> type;
  };
  const Case cases[] = {
      {"feat(auth): add login", std::nullopt, "feature"},
      {"feat!: drop the old api", std::nullopt, "feature"},
      {"  Fix: typo", std::nullopt, "bug-fix"},
      {"perf: faster", std::nullopt, "chore"},
      {"feat: x", "chore/y", "feature"},
      {"Merge branch 'main'", "hotfix/urgent", "bug-fix"},
      {"wip: tidy", "fix/login", "bug-fix"},
      {"fix(a)(b): x", "docs/readme", "docs"},
      {"fix(a)(b): x", std::nullopt, std::nullopt},
      {"style: spaces", std::nullopt, std::nullopt},
      {"no prefix", "user/fix/x", std::nullopt},
      {"", "release/1.2", std::nullopt},
      {std::nullopt, "HEAD", std::nullopt},
      {std::nullopt, "main", std::nullopt},
      {std::nullopt, "unknown", std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt},
      {"TEST: more", std::nullopt, "test"},
      {"ci:pipeline", std::nullopt, "chore"},
      {"feat : spaced", std::nullopt, std::nullopt},
      {"\u00a0\u3000feat: unicode spaces", std::nullopt, "feature"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(infer_task_type(c.subject, c.branch), c.type)
        << c.subject.value_or("<none>") << " on " << c.branch.value_or("<none>");
  }
}

// The hand-written matchers give the patterns' own answers: every string of
// up to four pieces that the patterns care about, run through std::regex.
TEST(Git, PrefixWordsAreWhatThePatternsCapture) {
  const std::regex subject_re{R"(^\s*([A-Za-z]+)(?:\([^)]*\))?!?:)"};
  const std::regex branch_re{R"(^([A-Za-z]+)/)"};
  const auto captured = [](const std::regex& re, const std::string& text) -> std::optional<std::string> {
    std::smatch match;
    if (!std::regex_search(text, match, re, std::regex_constants::match_continuous)) return std::nullopt;
    return match[1].str();
  };
  const std::vector<std::string> pieces = {"",      "fix", "Feat", " ", "\t\n", "(",       ")",
                                           "(a b)", "!",   ":",    "/", "x9",   "\xc3\xa9"};
  std::vector<std::string> texts = {""};
  for (int depth = 0; depth < 4; ++depth) {
    std::vector<std::string> longer;
    for (const std::string& text : texts) {
      for (const std::string& piece : pieces) longer.push_back(text + piece);
    }
    texts = std::move(longer);
  }
  for (const std::string& text : texts) {
    const auto as_string = [](std::optional<std::string_view> word) {
      return word ? std::optional<std::string>(*word) : std::nullopt;
    };
    ASSERT_EQ(as_string(_subject_prefix_word(text)), captured(subject_re, text)) << text;
    ASSERT_EQ(as_string(_branch_prefix_word(text)), captured(branch_re, text)) << text;
  }
}

}  // namespace
}  // namespace tamrik::synccore
