// Which sessions made or mention a commit, read from Claude Code transcripts
// (the scan every adapter shares).

#include "host/agents/claude_code.hpp"
#include "host/agents/registry.hpp"

#include "host/agent_fixtures.hpp"

#include <gtest/gtest.h>

namespace tamrik::agents {
namespace {

namespace fs = std::filesystem;
using namespace testing::agent_fixtures;
using testing::GitRepo;
using testing::TempDir;
using testing::write_text;

using Sessions = std::vector<std::string>;

class SessionScan : public ::testing::Test {
 protected:
  SessionScan() {
    // An hour apart, so a call near one is far from the other.
    first_ = commit_at("feat: first", kDay);
    second_ = commit_at("fix: second", kDay + 3600);
    for (const std::string& sha : {first_, second_}) {
      times_[sha] = std::stod(repo_.git({"log", "-1", "--format=%ct", sha}));
    }
  }

  std::string commit_at(const std::string& subject, double when) {
    ScopedEnv date{{"GIT_COMMITTER_DATE", std::to_string(static_cast<long long>(when)) + " +0000"}};
    return repo_.commit(subject);
  }

  ClaudeSession session(const std::string& id) { return ClaudeSession{id, repo_.root().string()}; }

  void write_session(const std::string& id, const std::vector<Json>& lines, const std::string& project = "-work") {
    write_text(config_.path() / "projects" / project / (id + ".jsonl"), jsonl(lines));
  }

  fs::path transcript(const std::string& id, const std::string& project = "-work") const {
    return config_.path() / "projects" / project / (id + ".jsonl");
  }

  std::optional<SessionHits> scan(std::optional<double> since = std::nullopt) const {
    return get_adapter_by_name("claude-code")->sessions_mentioning(repo_.root(), {first_, second_}, since, times_);
  }

  Sessions hits_for(const std::string& sha, std::optional<double> since = std::nullopt) const {
    const auto hits = scan(since);
    if (!hits || hits->count(sha) == 0) return {};
    return hits->at(sha);
  }

  std::string summary(const std::string& sha, const std::string& subject) const {
    return "[main " + sha.substr(0, 7) + "] " + subject + "\n 1 file changed, 1 insertion(+)\n";
  }

  double time(const std::string& sha) const { return times_.at(sha); }

  GitRepo repo_;
  std::string first_, second_;
  std::map<std::string, double> times_;

 private:
  TempDir config_;
  ScopedEnv env_{{"CLAUDE_CONFIG_DIR", config_.path().string()}};
};

TEST_F(SessionScan, TheSessionThatMadeACommitWinsOverOnesThatMentionIt) {
  const double t = time(first_);
  ClaudeSession maker = session("s-maker");
  write_session("s-maker", {maker.bash_call("toolu_1", "git add -A && git commit -m 'feat: first'", t - 1.2),
                            maker.bash_result("toolu_1", summary(first_, "feat: first"), t + 0.4)});
  ClaudeSession reader = session("s-reader");
  write_session("s-reader",
                {reader.text_reply("m1", "HEAD is " + first_ + " now.", ClaudeSession::usage(1, 1, 0, 0), t + 60)},
                "-other-project");
  EXPECT_EQ(hits_for(first_), Sessions{"s-maker"});
}

TEST_F(SessionScan, ACommitCallWithoutSummaryMatchesByTime) {
  const double t = time(first_);
  ClaudeSession quiet = session("s-quiet");
  write_session("s-quiet", {quiet.bash_call("toolu_q", "git commit -q -m 'feat: first'", t - 0.8),
                            quiet.bash_result("toolu_q", "", t + 0.9)});
  ClaudeSession earlier = session("s-earlier");
  write_session("s-earlier", {earlier.bash_call("toolu_e", "git commit -q -m old", t - 3600),
                              earlier.bash_result("toolu_e", "", t - 3599)});
  // A call whose result is not written yet (the transcript lags) still counts.
  ClaudeSession lagging = session("s-lagging");
  write_session("s-lagging", {lagging.bash_call("toolu_l", "git commit -q", time(second_) - 1)});
  EXPECT_EQ(hits_for(first_), Sessions{"s-quiet"});
  EXPECT_EQ(hits_for(second_), Sessions{"s-lagging"});
}

TEST_F(SessionScan, FailedOrBlockedCommitsMadeNothing) {
  const double t = time(first_);
  ClaudeSession failed = session("s-failed");
  write_session("s-failed", {failed.bash_call("toolu_f", "git commit -m x", t - 1),
                             failed.bash_error("toolu_f", "Exit code 1\nnothing to commit, working tree clean", t)});
  ClaudeSession blocked = session("s-blocked");
  write_session("s-blocked",
                {blocked.bash_call("toolu_b", "git commit -m x", t - 1),
                 blocked.bash_error("toolu_b", "PreToolUse:Bash hook error: commit blocked by policy", t + 0.2)});
  EXPECT_EQ(hits_for(first_), Sessions{});
}

TEST_F(SessionScan, ACallThatMadeAnotherCommitDidNotMakeThisOne) {
  const double t = time(first_);
  ClaudeSession other = session("s-other");
  write_session("s-other", {other.bash_call("toolu_o", "git commit -m y", t - 1),
                            other.bash_result("toolu_o", "[main 0abcdef] y\n", t + 1)});
  EXPECT_EQ(hits_for(first_), Sessions{});
}

TEST_F(SessionScan, TimeMatchesNeedACallInThisRepository) {
  const double t = time(first_);
  ClaudeSession elsewhere{"s-elsewhere", "/somewhere/else"};
  write_session("s-elsewhere", {elsewhere.bash_call("toolu_x", "git commit -q -m x", t - 1),
                                elsewhere.bash_result("toolu_x", "", t + 1)});
  EXPECT_EQ(hits_for(first_), Sessions{});
  // Output naming the commit needs no directory: `git -C` works from anywhere.
  ClaudeSession named{"s-named", "/somewhere/else"};
  write_session("s-named", {named.bash_call("toolu_n", "git -C repo commit -m x", t - 1),
                            named.bash_result("toolu_n", summary(first_, "x"), t + 1)});
  EXPECT_EQ(hits_for(first_), Sessions{"s-named"});
}

TEST_F(SessionScan, MentionsAreTheFullHashOrAnAbbreviationWhereGitWritesIt) {
  ClaudeSession full = session("s-full");
  write_session("s-full", {full.text_reply("m1", "Pushed " + second_, ClaudeSession::usage(1, 1, 0, 0), kDay)});
  ClaudeSession prose = session("s-prose");
  write_session("s-prose",
                {prose.text_reply("m2", "The fix is " + second_.substr(0, 9), ClaudeSession::usage(1, 1, 0, 0), kDay)});
  ClaudeSession log = session("s-log");
  write_session("s-log", {log.bash_call("toolu_g", "git show --stat", kDay),
                          log.bash_result("toolu_g", "commit " + second_.substr(0, 12) + "\nAuthor: x", kDay + 1)});
  EXPECT_EQ(hits_for(second_), (Sessions{"s-full", "s-log"}));
}

TEST_F(SessionScan, TwoSessionsThatBothMadeACommitAreBothListed) {
  const double t = time(first_);
  for (const std::string id : {"s-one", "s-two"}) {
    ClaudeSession s = session(id);
    write_session(id, {s.bash_call("toolu_" + id, "git commit -m 'feat: first'", t - 1),
                       s.bash_result("toolu_" + id, summary(first_, "feat: first"), t + 1)});
  }
  EXPECT_EQ(hits_for(first_), (Sessions{"s-one", "s-two"}));
}

TEST_F(SessionScan, ASubagentsCommitIsItsParentSessions) {
  const double t = time(first_);
  ClaudeSession sub = session("parent-1");
  write_session("parent-1", {sub.prompt("commit it", t - 30)});
  write_text(transcript("parent-1").parent_path() / "parent-1" / "subagents" / "agent-a1.jsonl",
             jsonl({sub.bash_call("toolu_s", "git commit -m 'feat: first'", t - 1),
                    sub.bash_result("toolu_s", summary(first_, "feat: first"), t + 1)}));
  EXPECT_EQ(hits_for(first_), Sessions{"parent-1"});
}

TEST_F(SessionScan, TranscriptsLastWrittenBeforeSinceAreSkipped) {
  ClaudeSession old = session("s-old");
  write_session("s-old", {old.text_reply("m1", "about " + second_, ClaudeSession::usage(1, 1, 0, 0), kDay)});
  const double since = time(second_) - 10;
  set_mtime(transcript("s-old"), since - 1);
  EXPECT_EQ(hits_for(second_, since), Sessions{});
  set_mtime(transcript("s-old"), since);
  EXPECT_EQ(hits_for(second_, since), Sessions{"s-old"});
  EXPECT_EQ(hits_for(second_), Sessions{"s-old"});
}

TEST_F(SessionScan, NoStoreIsNoAnswerAndAnEmptyStoreAnEmptyOne) {
  ScopedEnv env{{"CLAUDE_CONFIG_DIR", (repo_.root() / "no-such-dir").string()}};
  EXPECT_EQ(scan(), std::nullopt);
  fs::create_directories(repo_.root() / "no-such-dir" / "projects");
  ASSERT_TRUE(scan().has_value());
  EXPECT_TRUE(scan()->empty());
}

TEST_F(SessionScan, NothingInATranscriptCanBreakTheScan) {
  const double t = time(first_);
  ClaudeSession good = session("s-good");
  const std::string deep = std::string(100000, '[') + "\"" + second_ + "\"" + std::string(100000, ']');
  const std::string huge_tool_result =
      good.bash_result("toolu_h", std::string(3u << 20, 'a') + " " + second_, t).dump();
  write_text(transcript("s-good"),
             "not json at all " + second_ + "\n" +                                  // skipped: not JSON
                 "{\"type\":\"assistant\",\"message\":" + second_ + "\n" +          // skipped: broken JSON
                 "{\"bad\":\"\xff\xfe " + second_ + "\"}\n" +                       // skipped: invalid UTF-8
                 deep + "\n" +                                                      // skipped: too deep
                 "{\"type\":\"assistant\",\"message\":{\"content\":\"oops\"}}\n" +  // wrong shapes
                 "{\"type\":\"user\",\"message\":{\"content\":[1,null,{\"type\":\"tool_result\"}]}}\n" + "[\"" +
                 first_ + "\"]\n" +                                           // not an object
                 huge_tool_result + "\n" +                                    // 3 MB: read whole
                 good.bash_call("toolu_t", "git commit -m torn", t).dump());  // torn: no line break
  fs::create_directories(transcript("s-dir"));
  ASSERT_EQ(::mkfifo(transcript("s-fifo").c_str(), 0600), 0);
  fs::create_symlink("/nonexistent/x.jsonl", transcript("s-link"));
  write_text(transcript("s-binary"), std::string("\0\x01\x02\n\xff\n", 6));
  write_text(transcript("s-locked"), jsonl({good.text_reply("m", second_, ClaudeSession::usage(1, 1, 0, 0), t)}));
  fs::permissions(transcript("s-locked"), fs::perms::none);

  const auto hits = scan();
  ASSERT_TRUE(hits.has_value());
  EXPECT_EQ(hits->count(first_), 0u);
  Sessions expected{"s-good"};
  // Unreadable, unless the tests run with the privilege to read it anyway.
  if (::geteuid() == 0) expected.push_back("s-locked");
  EXPECT_EQ(hits->at(second_), expected);
}

}  // namespace
}  // namespace tamrik::agents
