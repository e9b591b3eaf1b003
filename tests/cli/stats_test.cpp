// `tamrik stats`: every number agrees with a recount of the ledger made here
// from the lines the test wrote; bars only on a terminal.

#include "cli_fixture.hpp"

#include <map>

namespace tamrik::testing {
namespace {

// Days with the ISO week they fall in, the year's edges among them.
const std::vector<std::pair<std::string, std::string>> kDays = {{"2025-12-29T08:00:00Z", "2026-W01"},
                                                                {"2026-01-01T23:59:59Z", "2026-W01"},
                                                                {"2026-03-01T12:00:00Z", "2026-W09"},
                                                                {"2026-03-02T00:00:00Z", "2026-W10"},
                                                                {"2027-01-01T10:00:00Z", "2026-W53"},
                                                                {"", "(none)"},
                                                                {"not a date", "(none)"}};
const std::vector<std::string> kAgents = {"claude-code", "codex", "unknown", ""};
const std::vector<std::string> kEvents = {"", "commit_unattested", "attestation_skipped", "other_event"};

struct Expected {
  long commits = 0, by_agents = 0, attested = 0;
  long tokens[3] = {0, 0, 0}, attested_tokens[3] = {0, 0, 0};
};

long count(const ordered_json& tokens, const char* key) {
  const auto value = tokens.find(key);
  return value != tokens.end() && value->is_number_integer() && value->get<long>() >= 0 ? value->get<long>() : 0;
}

class Stats : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    set_up_repository();
    std::string ledger = "not json\n[1, 2]\n";
    std::string spool;
    for (int n = 0; n < 140; ++n) {
      std::string hash = std::to_string(n);
      hash = std::string(40 - hash.size(), 'b') + hash;
      ordered_json line = {{"commit", hash},
                           {"branch", "main"},
                           {"timestamp", kDays[n % kDays.size()].first},
                           {"agent", kAgents[n % kAgents.size()]},
                           {"summary", "change"},
                           {"synced", n % 2 == 0}};
      if (!kEvents[n % 5 % kEvents.size()].empty()) line["event"] = kEvents[n % 5 % kEvents.size()];
      if (n % 6 != 0)
        line["developer"] = {{"git_author_name", n % 4 == 0 ? "" : "Dev " + std::to_string(n % 3)},
                             {"git_author_email", "dev" + std::to_string(n % 3) + "@example.com"}};
      if (n % 3 != 0) {
        ordered_json tokens = {{"input", n * 100},
                               {"output", n % 11 == 0 ? ordered_json(-5) : ordered_json(n)},
                               {"cache_creation", n % 13 == 0 ? ordered_json("12") : ordered_json(7)},
                               {"cache_read", n * 3}};
        line["telemetry"] = {{"tokens", tokens}};
        if (n % 2 == 1) line["telemetry"]["model"] = n % 4 == 1 ? "opus" : "sonnet";
      }
      if (n % 5 == 2) {
        write_text(tamrik_dir() / "attestations" / (hash + ".yaml"),
                   "agent_model: archived-model\ntask_type: " + std::string(n % 2 == 0 ? "docs" : "feature") + "\n");
      }
      (n >= 130 ? spool : ledger) += line.dump() + "\n";
      lines_.push_back(line);
    }
    write_text(tamrik_dir() / "log.jsonl", ledger);
    write_text(tamrik_dir() / "log.jsonl.spool-1-test", spool);
  }

  // The recount: what each line should add, worked out from the line and
  // its archive as the test wrote them.
  std::map<std::string, Expected> recount(const std::string& by, const std::string& since = "") const {
    std::map<std::string, Expected> groups;
    for (const ordered_json& line : lines_) {
      const std::string day = line["timestamp"];
      if (!since.empty() && (day.size() < 10 || day[4] != '-' || day < since)) continue;
      const std::string commit = line["commit"];
      const bool archived = fs::exists(tamrik_dir() / "attestations" / (commit + ".yaml"));
      const int n = std::stoi(commit.substr(commit.find_first_not_of('b')));
      const std::string agent = line["agent"];
      std::string model = line.contains("telemetry") ? line["telemetry"].value("model", "") : "";
      if (model.empty() && archived) model = "archived-model";
      std::string developer;
      if (line.contains("developer")) {
        const std::string name = line["developer"]["git_author_name"], email = line["developer"]["git_author_email"];
        developer = name.empty() ? email : name + " <" + email + ">";
      }
      const std::string task_type = archived ? (n % 2 == 0 ? "docs" : "feature") : "";
      std::string key = by == "agent" ? agent : by == "model" ? model : by == "developer" ? developer : task_type;
      if (by == "week")
        key = std::find_if(kDays.begin(), kDays.end(), [&](const auto& d) { return d.first == day; })->second;
      if (key.empty()) key = "(none)";
      const std::string event = line.value("event", "");
      const bool attested = event != "commit_unattested" && event != "attestation_skipped";
      for (Expected* counts : {&groups[key], &groups["(total)"]}) {
        ++counts->commits;
        counts->by_agents += agent != "" && agent != "unknown";
        counts->attested += attested;
        if (!line.contains("telemetry")) continue;
        const ordered_json& tokens = line["telemetry"]["tokens"];
        const long values[3] = {count(tokens, "input"), count(tokens, "output"),
                                count(tokens, "cache_creation") + count(tokens, "cache_read")};
        for (int i = 0; i < 3; ++i) {
          counts->tokens[i] += values[i];
          if (attested) counts->attested_tokens[i] += values[i];
        }
      }
    }
    return groups;
  }

  std::vector<ordered_json> lines_;
};

void expect_counts(const ordered_json& counts, const Expected& expected, const std::string& group) {
  SCOPED_TRACE(group);
  EXPECT_EQ(counts["commits"], expected.commits);
  EXPECT_EQ(counts["by_agents"], expected.by_agents);
  EXPECT_EQ(counts["attested"], expected.attested);
  const char* names[3] = {"input", "output", "cache"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(counts["tokens"][names[i]], expected.tokens[i]) << names[i];
    EXPECT_EQ(counts["attested_tokens"][names[i]], expected.attested_tokens[i]) << names[i];
  }
}

TEST_F(Stats, NumbersAgreeWithARecountOfTheLedger) {
  for (const auto& [by, since] : std::vector<std::pair<std::string, std::string>>{
           {"agent", ""}, {"model", ""}, {"developer", ""}, {"task-type", ""}, {"week", ""}, {"agent", "2026-03-01"}}) {
    SCOPED_TRACE("--by " + by + " --since " + since);
    std::vector<std::string> args = {"stats", "--json", "--by", by};
    if (!since.empty()) args.insert(args.end(), {"--since", since});
    const TamrikResult result = tamrik(args);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const ordered_json stats = ordered_json::parse(result.out);
    std::map<std::string, Expected> expected = recount(by, since);
    expect_counts(stats["total"], expected["(total)"], "total");
    expected.erase("(total)");
    ASSERT_EQ(stats["groups"].size(), expected.size());
    for (const ordered_json& group : stats["groups"]) expect_counts(group, expected[group["group"]], group["group"]);
    EXPECT_EQ(stats["corrupt"], 2);
  }
}

TEST_F(Stats, DrawsBarsOnlyOnATerminal) {
  const TamrikResult piped = tamrik({"stats"});
  ASSERT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.out.find("█"), std::string::npos);
  EXPECT_NE(piped.out.find("\nclaude-code "), std::string::npos) << piped.out;
  if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "util-linux's script is not installed: no terminal to test on";
  const TamrikResult terminal = run_tamrik({.program = "/usr/bin/script",
                                            .args = {"-qec", tamrik_binary().string() + " stats", "/dev/null"},
                                            .cwd = repo_.root()});
  EXPECT_NE(terminal.out.find("████████████████████"), std::string::npos)
      << terminal.out;  // the largest group's full bar
}

}  // namespace
}  // namespace tamrik::testing
