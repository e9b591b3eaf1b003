// The README, followed word for word by a newcomer: a fresh HOME, a
// repository with an origin remote and a change to commit, and a
// tamrik-platform on loopback. The sh blocks between the README's
// first-steps markers run in order, with the platform's URL and API key for
// the placeholders, and must do what the README says they do. When the
// README and the product drift apart, this test fails.

#include "cli_fixture.hpp"
#include "host/agent_fixtures.hpp"

#include "platform/platform_process.hpp"

#include <httplib.h>
#include <unistd.h>

#include <regex>

namespace tamrik::testing {
namespace {

const fs::path kSourceDir = TAMRIK_SOURCE_DIR;
const fs::path kBinaryDir = TAMRIK_BINARY_DIR;

constexpr std::string_view kBegin = "<!-- first-steps: begin";
constexpr std::string_view kEnd = "<!-- first-steps: end";
constexpr std::string_view kSummary = "Add a rate limiter in front of the public API";

std::string readme() { return read_text(kSourceDir / "README.md"); }

// The ```sh blocks between the markers, each as one script.
std::vector<std::string> first_step_blocks(const std::string& text) {
  const size_t begin = text.find(kBegin);
  const size_t end = text.find(kEnd);
  if (begin == std::string::npos || end == std::string::npos || end < begin) return {};
  std::vector<std::string> blocks;
  std::optional<std::string> block;
  for (const std::string& line : lines_of(text.substr(begin, end - begin))) {
    if (!block && line == "```sh") {
      block.emplace();
    } else if (block && line == "```") {
      blocks.push_back(*block);
      block.reset();
    } else if (block) {
      *block += line + "\n";
    }
  }
  return blocks;
}

std::string replaced(std::string text, std::string_view placeholder, const std::string& value) {
  for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
  return text;
}

using agent_fixtures::ScopedEnv;

TEST(Readme, NamesTheTestAndDemoScriptsAndTheyRun) {
  const std::string text = readme();
  for (const char* script : {"scripts/test", "scripts/demo", "scripts/build", "scripts/install"}) {
    EXPECT_NE(text.find("./" + std::string(script)), std::string::npos) << script << " is not in the README";
    EXPECT_EQ(::access((kSourceDir / script).c_str(), X_OK), 0) << script << " is missing or not executable";
  }
}

TEST(Readme, FirstStepsHaveNoPlaceholderThisTestCannotFill) {
  const std::vector<std::string> blocks = first_step_blocks(readme());
  ASSERT_FALSE(blocks.empty()) << "no ```sh blocks between the README's first-steps markers";
  const std::regex placeholder("<[a-z][a-z-]*>");
  for (const std::string& block : blocks) {
    const std::string filled = replaced(replaced(block, "<platform-url>", "u"), "<api-key>", "k");
    EXPECT_FALSE(std::regex_search(filled, placeholder)) << block;
  }
}

class NewcomerRoad : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    // A newcomer with Claude Code: setup hooks it in this HOME.
    fs::create_directories(home_.path() / ".claude");
    repo_.git({"remote", "add", "origin", "git@example.com:acme/rate-limiter.git"});
    write_text(repo_.root() / "limiter.py", "def allow(key):\n    return True\n");
  }

  // Runs one README block in the repository, as a newcomer's shell would.
  CommandResult run_block(const std::string& block) {
    const std::string script =
        replaced(replaced(block, "<platform-url>", platform_.url()), "<api-key>", platform_.key());
    return run_command({"sh", "-e", "-c", script}, repo_.root());
  }

  // The records the platform stored for the first project.
  std::vector<ordered_json> stored_records() {
    httplib::Client client(platform_.url());
    const httplib::Result result =
        client.Get("/v1/projects/1/attestations", {{"Authorization", "Bearer " + platform_.key()}});
    if (!result || result->status != 200) return {};
    return ordered_json::parse(result->body).at("attestations").get<std::vector<ordered_json>>();
  }

  PlatformProcess platform_;
  // build/bin on the PATH, as the README asks; the platform skills come from
  // a public registry, which tests never reach.
  ScopedEnv env_{{"PATH", kBinaryDir.string() + ":" + std::getenv("PATH")}, {"TAMRIK_SKIP_PLATFORM_SKILLS", "1"}};
};

TEST_F(NewcomerRoad, FirstStepsSetUpAttestCommitSyncAndShowTheStatus) {
  const std::vector<std::string> blocks = first_step_blocks(readme());
  ASSERT_FALSE(blocks.empty()) << "no ```sh blocks between the README's first-steps markers";
  std::string output;
  for (const std::string& block : blocks) {
    const CommandResult result = run_block(block);
    output += result.out;
    ASSERT_EQ(result.exit_code, 0) << "this README block failed:\n" << block << "\nits output:\n" << result.out;
  }

  // setup: the post-commit hook and Claude Code's hook rows.
  EXPECT_NE(read_text(repo_.root() / ".git" / "hooks" / "post-commit").find("tamrik"), std::string::npos);
  EXPECT_NE(read_text(home_.path() / ".claude" / "settings.json").find("attest add --from-hook"), std::string::npos);

  // attest and commit: one record of the new commit, carrying the attestation.
  const std::string head = repo_.head();
  ASSERT_NE(head, "");
  ASSERT_EQ(records_of(head), 1u) << "the README's commit was not recorded";
  for (const ordered_json& entry : ledger()) {
    if (entry.value("commit", "") != head) continue;
    EXPECT_NE(entry.dump().find(kSummary), std::string::npos) << entry.dump();
    EXPECT_TRUE(entry.value("synced", false)) << entry.dump();
  }
  EXPECT_FALSE(fs::exists(tamrik_dir() / ".commit-attestation.yaml"));

  // sync: the record is on the platform.
  const std::vector<ordered_json> stored = stored_records();
  const auto on_platform = std::find_if(stored.begin(), stored.end(),
                                        [&](const ordered_json& record) { return record.value("commit", "") == head; });
  ASSERT_NE(on_platform, stored.end()) << "the platform has no record of " << head;
  EXPECT_NE(on_platform->dump().find(kSummary), std::string::npos) << on_platform->dump();

  // status: signed in, linked, nothing left to upload, hooks in place.
  const std::vector<std::string> lines = lines_of(output);
  const auto shows = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(shows("  signed in:   yes (" + platform_.url() + ")")) << output;
  EXPECT_TRUE(shows("  hooks:       post-commit installed")) << output;
  EXPECT_NE(output.find("  ledger:      0 pending upload, "), std::string::npos) << output;
  EXPECT_EQ(output.find("  project:     not linked"), std::string::npos) << output;
}

}  // namespace
}  // namespace tamrik::testing
