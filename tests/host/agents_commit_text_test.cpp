// Finding commits in transcript text: the hash finder, `git commit` command
// lines, git's commit summary, exit codes in tool output.

#include "host/agents/commit_hashes.hpp"
#include "host/agents/git_commit_text.hpp"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>

namespace tamrik::agents {
namespace {

using Found = std::set<std::tuple<std::size_t, std::size_t, std::size_t, bool>>;

Found find_all(const HashIndex& index, std::string_view text) {
  Found found;
  index.find(text, [&](const HashMatch& m) {
    found.emplace(m.hash, m.offset, m.length, m.full);
    return m.offset + m.length;
  });
  return found;
}

bool hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The obvious way: every maximal run of hex digits, compared with each hash.
Found find_naive(const std::vector<std::string>& hashes, std::string_view text) {
  Found found;
  for (std::size_t i = 0; i < text.size();) {
    if (!hex(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && hex(text[end])) ++end;
    const std::string_view run = text.substr(i, end - i);
    for (std::size_t h = 0; h < hashes.size(); ++h) {
      if (run.size() >= 7 && run.size() <= hashes[h].size() && hashes[h].compare(0, run.size(), run) == 0) {
        found.emplace(h, i, run.size(), run.size() == hashes[h].size());
      }
    }
    i = end;
  }
  return found;
}

std::string random_hex(std::mt19937& rng, std::size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text += kDigits[rng() % 16];
  return text;
}

TEST(HashIndex, AgreesWithTheNaiveSearchOnRandomText) {
  std::mt19937 rng(7);
  std::vector<std::string> hashes;
  for (int i = 0; i < 20; ++i) hashes.push_back(random_hex(rng, i % 4 == 0 ? 64 : 40));
  hashes.push_back(hashes[1].substr(0, 12) + random_hex(rng, 28));  // shares a 12-digit prefix
  const HashIndex index(hashes);
  // Text dense in hex digits and in near misses: prefixes cut at every
  // length, hashes with a digit changed, runs glued to other hex.
  static constexpr char kFiller[] = "0123456789abcdefxyz \"[]\n";
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    while (text.size() < 300) {
      const std::string& hash = hashes[rng() % hashes.size()];
      switch (rng() % 5) {
        case 0:
          text += hash;
          break;
        case 1:
          text += hash.substr(0, 5 + rng() % 40);
          break;
        case 2: {
          std::string near = hash;
          near[rng() % near.size()] = 'x';
          text += near;
          break;
        }
        default:
          text += kFiller[rng() % (sizeof kFiller - 1)];
      }
    }
    ASSERT_EQ(find_all(index, text), find_naive(index.hashes(), text)) << text;
  }
}

TEST(HashIndex, FindsRunsAtEveryOffsetAndAtTheEdges) {
  const std::string hash = "0123456789abcdef0123456789abcdef01234567";
  const HashIndex index({hash});
  for (std::size_t pad = 0; pad <= 80; ++pad) {
    const std::string before(pad, 'x');
    EXPECT_EQ(find_all(index, before + hash), (Found{{0, pad, 40, true}})) << pad;
    EXPECT_EQ(find_all(index, before + hash.substr(0, 7) + "]"), (Found{{0, pad, 7, false}})) << pad;
    EXPECT_EQ(find_all(index, before + hash.substr(0, 6) + "]"), Found{}) << pad;
  }
  EXPECT_EQ(find_all(index, hash + "8"), Found{});  // 41 digits: another number
  EXPECT_EQ(find_all(index, "f" + hash), Found{});  // glued on the left
  EXPECT_EQ(find_all(HashIndex({"0123456789ABCDEF0123456789ABCDEF01234567"}), hash), (Found{{0, 0, 40, true}}));
  EXPECT_EQ(find_all(HashIndex({"not-a-hash", hash}), "x" + hash), (Found{{1, 1, 40, true}}));
  EXPECT_EQ(find_all(HashIndex({}), hash), Found{});
}

TEST(HashIndex, AbbreviationsCountOnlyWhereGitWritesCommits) {
  const std::string hash = "9f3c2b1a0e8d7c6b5a4f3e2d1c0b9a8f7e6d5c4b";
  const HashIndex index({hash});
  const auto in_context = [&](const std::string& text) {
    bool any = false;
    index.find(text, [&](const HashMatch& m) {
      any = any || in_commit_context(text, m);
      return m.offset + m.length;
    });
    return any;
  };
  EXPECT_TRUE(in_context("[main 9f3c2b1] Fix the parser"));
  EXPECT_TRUE(in_context("[main (root-commit) 9f3c2b1a0] Initial"));
  EXPECT_TRUE(in_context("see commit 9f3c2b1 for details"));
  EXPECT_TRUE(in_context("Commit 9f3c2b1a0e8d"));
  EXPECT_FALSE(in_context("9f3c2b1 Fix the parser"));  // a log line names many commits
  EXPECT_FALSE(in_context("id=9f3c2b1]"));
  EXPECT_FALSE(in_context("recommit 9f3c2b1"));
}

TEST(GitCommitCommand, RecognisesCommitsInShellLines) {
  for (const char* command :
       {"git commit -m 'fix'", "git add -A && git commit -m \"x\"", "cd sub; git commit",
        "git -C /repo -c core.hooksPath=/dev/null commit -q", "GIT_EDITOR=true git commit --amend",
        "/usr/bin/git commit -F msg.txt", "git --no-pager commit", "(git commit)", "git add x\ngit commit -m y",
        "git --git-dir=.git commit"}) {
    EXPECT_TRUE(runs_git_commit(command)) << command;
  }
  for (const char* command : {"git status", "git log --grep commit", "git commit-tree HEAD^{tree}", "echo commit",
                              "git show HEAD", "gitk commit", "git -C commit status", ""}) {
    EXPECT_FALSE(runs_git_commit(command)) << command;
  }
}

TEST(GitCommitSummary, ReadsTheHashesGitPrints) {
  EXPECT_EQ(commit_summary_hashes("[main 9f3c2b1] Fix\n 1 file changed, 2 insertions(+)\n"),
            (std::vector<std::string>{"9f3c2b1"}));
  EXPECT_EQ(commit_summary_hashes("hook ok\n[feature/x (root-commit) 0a1b2c3d4] Initial\n[detached HEAD abcdef0] y"),
            (std::vector<std::string>{"0a1b2c3d4", "abcdef0"}));
  EXPECT_EQ(commit_summary_hashes("Output: [main 9f3c2b1] Fix\nExit Code: 0"), (std::vector<std::string>{"9f3c2b1"}));
  EXPECT_EQ(commit_summary_hashes("see [1] and [main 9f3c2b1] x"), std::vector<std::string>{});
  EXPECT_EQ(commit_summary_hashes("nothing to commit, working tree clean\n"), std::vector<std::string>{});
  EXPECT_EQ(commit_summary_hashes("[main xyz] no\n[main 12345] short\n[WIP] note"), std::vector<std::string>{});
}

TEST(ExitCodes, AreReadAfterTheirLabel) {
  EXPECT_EQ(exit_code_after("Process exited with code 0\nOutput:", "Process exited with code "), 0);
  EXPECT_EQ(exit_code_after("Process exited with code 128\n", "Process exited with code "), 128);
  EXPECT_EQ(exit_code_after("Exit Code: -1", "Exit Code: "), -1);
  EXPECT_EQ(exit_code_after("Exit Code: (none)", "Exit Code: "), std::nullopt);
  EXPECT_EQ(exit_code_after("no label", "Exit Code: "), std::nullopt);
  EXPECT_EQ(exit_code_after("Exit Code: 99999999999999", "Exit Code: "), 999999999);  // bounded, no overflow
}

}  // namespace
}  // namespace tamrik::agents
