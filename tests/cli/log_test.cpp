// `tamrik log`: the latest records first, filtered, as text or JSON lines;
// a revision range as git lists it, commits without a record shown as such;
// colour and the pager only on a terminal.

#include "cli_fixture.hpp"

namespace tamrik::testing {
namespace {

std::string hash_of(int n) {
  std::string hash = std::to_string(n);
  return std::string(40 - hash.size(), 'a') + hash;
}

class Log : public CliTest {
 protected:
  // Ledger lines of commits git need not know, oldest first.
  void write_ledger(const std::vector<ordered_json>& entries) {
    std::string text;
    for (const ordered_json& entry : entries) text += entry.dump() + "\n";
    write_text(tamrik_dir() / "log.jsonl", text);
  }

  std::vector<ordered_json> json_lines(std::vector<std::string> args) {
    args.insert(args.begin(), "log");
    args.push_back("--json");
    const TamrikResult result = tamrik(args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    std::vector<ordered_json> entries;
    for (const std::string& line : lines_of(result.out)) entries.push_back(ordered_json::parse(line));
    return entries;
  }

  std::vector<std::string> commits(std::vector<std::string> args) {
    std::vector<std::string> found;
    for (const ordered_json& entry : json_lines(std::move(args))) found.push_back(entry["commit"]);
    return found;
  }
};

TEST_F(Log, ShowsTheLatestRecordsFirstAndFiltersThem) {
  set_up_repository();
  const auto record = [](int n, std::string agent, std::string day, bool synced) {
    return ordered_json{{"commit", hash_of(n)},
                        {"branch", "main"},
                        {"timestamp", day + "T10:00:00Z"},
                        {"agent", agent},
                        {"summary", "change " + std::to_string(n)},
                        {"synced", synced}};
  };
  ordered_json unattested = record(3, "unknown", "2026-05-03", false);
  unattested["event"] = "commit_unattested";
  ordered_json with_model = record(4, "codex", "2026-05-04", false);
  with_model["telemetry"] = {{"model", "gpt-5-codex"}, {"tokens", {{"input", 10}, {"output", 2}, {"cache_read", 5}}}};
  with_model["developer"] = {{"git_author_name", "Dana"}, {"git_author_email", "dana@example.com"}};
  ordered_json hostile = record(5, "claude-code", "2026-05-05", false);
  hostile["summary"] = "red \x1b[31malert\x1b]0;title\x07 done";
  write_ledger({record(1, "claude-code", "2026-05-01", true), record(2, "claude-code", "2026-05-02", false), unattested,
                with_model, hostile});
  // The attestation of record 2 names its model and task type; the ledger line does not.
  write_text(tamrik_dir() / "attestations" / (hash_of(2) + ".yaml"), "agent_model: claude-opus-4\ntask_type: docs\n");
  std::string text = read_text(tamrik_dir() / "log.jsonl");
  write_text(tamrik_dir() / "log.jsonl", text + "not json\n");

  EXPECT_EQ(commits({}), (std::vector<std::string>{hash_of(5), hash_of(4), hash_of(3), hash_of(2), hash_of(1)}));
  EXPECT_EQ(commits({"-n", "2"}), (std::vector<std::string>{hash_of(5), hash_of(4)}));
  EXPECT_EQ(commits({"--agent", "CLAUDE", "--attested"}),
            (std::vector<std::string>{hash_of(5), hash_of(2), hash_of(1)}));
  EXPECT_EQ(commits({"--unattested"}), (std::vector<std::string>{hash_of(3)}));
  EXPECT_EQ(commits({"--since", "2026-05-02", "--until", "2026-05-04T10:00:00Z", "--pending"}),
            (std::vector<std::string>{hash_of(4), hash_of(3), hash_of(2)}));
  EXPECT_EQ(commits({"--pending", "--since", "2026-05-01"}).size(), 4u);
  EXPECT_EQ(commits({"--model", "opus"}), (std::vector<std::string>{hash_of(2)}));
  EXPECT_EQ(commits({"--task-type", "docs"}), (std::vector<std::string>{hash_of(2)}));
  EXPECT_EQ(commits({"--developer", "dana@"}), (std::vector<std::string>{hash_of(4)}));

  const ordered_json codex = json_lines({"--agent", "codex"}).at(0);
  EXPECT_EQ(codex["model"], "gpt-5-codex");
  EXPECT_EQ(codex["tokens"], (ordered_json{{"input", 10}, {"output", 2}, {"cache", 5}}));
  EXPECT_EQ(codex["upload"], "pending");
  EXPECT_EQ(json_lines({"-n", "5"}).back()["upload"], "uploaded");

  // Off a terminal: no colour, no pager; the agent's escapes never reach the screen.
  const TamrikResult result = run_tamrik({.args = {"log"}, .cwd = repo_.root(), .env = {{"PAGER", "sed s/^/paged:/"}}});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::vector<std::string> lines = lines_of(result.out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].find('\x1b'), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("red  [31malert ]0;title  done"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("aaaaaaaaa  2026-05-04  main  codex/gpt-5-codex  -  ✓ attested"), std::string::npos)
      << lines[1];
  EXPECT_NE(lines[3].find("claude-code/claude-opus-4  docs  ✓ attested    pending   change 2"), std::string::npos)
      << lines[3];

  EXPECT_EQ(tamrik({"log", "--since", "last week"}).exit_code, 2);
  EXPECT_EQ(tamrik({"log", "--attested", "--unattested"}).exit_code, 2);
}

TEST_F(Log, ARangeShowsExactlyItsCommitsInGitsOrder) {
  set_up_repository();
  repo_.git({"checkout", "-q", "-b", "feature"});
  const std::string first = repo_.commit("feat: first");
  const std::string last = repo_.commit("fix: last");
  // The tip: a later hooked commit would record it on its way (catch-up).
  repo_.git({"-c", "core.hooksPath=/dev/null", "commit", "-q", "--allow-empty", "-m", "unhooked"});
  const std::string unhooked = repo_.head();
  repo_.git({"checkout", "-q", "-"});
  repo_.commit("chore: elsewhere");

  const std::vector<ordered_json> listed = json_lines({"main..feature"});
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0]["commit"], unhooked);
  EXPECT_EQ(listed[0]["recorded"], false);
  EXPECT_EQ(listed[0]["subject"], "unhooked");
  EXPECT_EQ(listed[1]["commit"], last);
  EXPECT_EQ(listed[2]["commit"], first);
  EXPECT_EQ(listed[2]["recorded"], true);
  EXPECT_EQ(listed[2]["summary"], "feat: first");
  EXPECT_EQ(commits({"main..feature", "-n", "2"}), (std::vector<std::string>{unhooked, last}));
  // A filter asks about records: a commit without one is left out.
  EXPECT_EQ(commits({"main..feature", "--pending"}), (std::vector<std::string>{last, first}));
  EXPECT_NE(tamrik({"log", "main..feature"}).out.find("(no record)  unhooked"), std::string::npos);

  const TamrikResult unknown = tamrik({"log", "main..nothing"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_NE(unknown.err.find("git does not know the revision range 'main..nothing'"), std::string::npos) << unknown.err;
  const fs::path injected = home_.path() / "injected";
  EXPECT_EQ(tamrik({"log", "--", "--output=" + injected.string()}).exit_code, 2);
  EXPECT_FALSE(fs::exists(injected));
}

TEST_F(Log, ColoursAndPagesOnlyOnATerminal) {
  if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "util-linux's script is not installed: no terminal to test on";
  set_up_repository();
  repo_.commit("feat: seen through the pager");
  const auto on_terminal = [&](std::vector<std::pair<std::string, std::string>> env) {
    env.emplace_back("PAGER", "sed s/^/paged:/");
    const TamrikResult result = run_tamrik({.program = "/usr/bin/script",
                                            .args = {"-qec", tamrik_binary().string() + " log", "/dev/null"},
                                            .cwd = repo_.root(),
                                            .env = env});
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    return result.out;
  };
  const std::string coloured = on_terminal({{"NO_COLOR", ""}, {"TERM", "xterm"}});
  EXPECT_NE(coloured.find("paged:\x1b[33m"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("feat: seen through the pager"), std::string::npos) << coloured;
  const std::string plain = on_terminal({{"NO_COLOR", "1"}, {"TERM", "xterm"}});
  EXPECT_NE(plain.find("paged:"), std::string::npos) << plain;
  EXPECT_EQ(plain.find('\x1b'), std::string::npos) << plain;
}

}  // namespace
}  // namespace tamrik::testing
