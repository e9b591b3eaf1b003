// tamrik's block in the files agents read standing instructions from, and
// the skills placed where agents load them: the user's text around the
// block survives byte for byte, an unchanged write touches nothing, links
// are written through, and uninstalling gives the files back.

#include "host/hooks/agent_guidance.hpp"

#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tamrik::hooks::agent_guidance {
namespace {

namespace fs = std::filesystem;
using testing::read_text;
using testing::TempDir;
using testing::write_text;

constexpr const char* kBegin = "<!-- >>> tamrik:";
constexpr const char* kEnd = "<!-- <<< tamrik <<< -->\n";

// Puts the file's modification time two days back, so a rewrite shows.
fs::file_time_type make_old(const fs::path& file) {
  const fs::file_time_type old = fs::file_time_type::clock::now() - std::chrono::hours(48);
  fs::last_write_time(file, old);
  return old;
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::vector<fs::path> files(std::initializer_list<const char*> names) { return {names.begin(), names.end()}; }

TEST(AgentGuidance, TheBlockTellsWhereTheContextIsAndToAttestBeforeCommitting) {
  TempDir repo;
  EXPECT_EQ(write_guidance(repo.path(), {"claude-code"}, true), files({"CLAUDE.md"}));
  const std::string text = read_text(repo / "CLAUDE.md");
  EXPECT_TRUE(text.starts_with(kBegin)) << text;
  EXPECT_TRUE(text.ends_with(kEnd)) << text;
  for (const char* part : {"`.tamrik/.platform/tamrikrules.yaml`", "`.tamrik/.platform/tamrikstate.yaml`",
                           "`.tamrik/.platform/specs/`", "`tamrik attest --help`"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
  }
  EXPECT_FALSE(fs::exists(repo / "AGENTS.md"));
  EXPECT_FALSE(fs::exists(repo / "GEMINI.md"));
}

TEST(AgentGuidance, OnlyTheConfiguredAgentsFilesAndOneBlockInAFileTheyShare) {
  TempDir repo;
  EXPECT_EQ(write_guidance(repo.path(), {"codex", "cursor", "windsurf", "gemini-cli"}, true),
            files({"AGENTS.md", "GEMINI.md"}));
  EXPECT_EQ(count_of(read_text(repo / "AGENTS.md"), kBegin), 1u);
  EXPECT_FALSE(fs::exists(repo / "CLAUDE.md"));

  TempDir other;
  EXPECT_TRUE(write_guidance(other.path(), {"aider", "no-such-agent"}, true).empty());
  EXPECT_TRUE(fs::is_empty(other.path())) << "no documented place: nothing is guessed";

  // Not asked for new blocks: a block already there is refreshed, no file
  // or block is added.
  write_text(other / "CLAUDE.md", "# Team\n");
  std::string stale = read_text(repo / "AGENTS.md");
  stale.replace(stale.find("Read it"), 7, "Skim it");
  write_text(repo / "AGENTS.md", stale);
  EXPECT_EQ(write_guidance(repo.path(), {"codex"}, false), files({"AGENTS.md"}));
  EXPECT_TRUE(write_guidance(other.path(), {"claude-code", "codex"}, false).empty());
  EXPECT_EQ(read_text(other / "CLAUDE.md"), "# Team\n");
  EXPECT_FALSE(fs::exists(other / "AGENTS.md"));
}

TEST(AgentGuidance, TheUsersTextAroundTheBlockIsKeptAndAnUnchangedWriteTouchesNothing) {
  TempDir repo;
  const std::string mine = "# Widgets\r\n\r\nUse the make targets.";  // CR LF, no final line break
  write_text(repo / "AGENTS.md", mine);
  ASSERT_EQ(write_guidance(repo.path(), {"codex"}, true), files({"AGENTS.md"}));
  const std::string first = read_text(repo / "AGENTS.md");
  EXPECT_TRUE(first.starts_with(mine + "\n" + kBegin)) << first;

  // The user writes below the block; an older block body is replaced where
  // it stands.
  const std::size_t body = first.find('\n', first.find(kBegin)) + 1;
  const std::string stale = first.substr(0, body) + "old advice\n" + kEnd + "\n## Later notes\n";
  write_text(repo / "AGENTS.md", stale);
  ASSERT_EQ(write_guidance(repo.path(), {"codex"}, true), files({"AGENTS.md"}));
  EXPECT_EQ(read_text(repo / "AGENTS.md"), first + "\n## Later notes\n");

  const fs::file_time_type old = make_old(repo / "AGENTS.md");
  const std::string settled = read_text(repo / "AGENTS.md");
  EXPECT_TRUE(write_guidance(repo.path(), {"codex", "cursor"}, true).empty());
  EXPECT_EQ(read_text(repo / "AGENTS.md"), settled);
  EXPECT_EQ(fs::last_write_time(repo / "AGENTS.md"), old);
}

TEST(AgentGuidance, ALinkIsWrittenThroughInsideTheRepositoryAndLeftAloneOutsideIt) {
  TempDir repo;
  write_text(repo / "AGENTS.md", "shared rules\n");
  fs::create_symlink("AGENTS.md", repo / "CLAUDE.md");
  EXPECT_EQ(write_guidance(repo.path(), {"claude-code", "codex"}, true), files({"AGENTS.md"}));
  EXPECT_TRUE(fs::is_symlink(repo / "CLAUDE.md"));
  EXPECT_EQ(count_of(read_text(repo / "AGENTS.md"), kBegin), 1u);

  TempDir elsewhere;
  write_text(elsewhere / "GEMINI.md", "someone else's\n");
  fs::create_symlink(elsewhere / "GEMINI.md", repo / "GEMINI.md");
  EXPECT_TRUE(write_guidance(repo.path(), {"gemini-cli"}, true).empty());
  EXPECT_EQ(read_text(elsewhere / "GEMINI.md"), "someone else's\n");
  EXPECT_TRUE(fs::is_symlink(repo / "GEMINI.md"));
}

TEST(AgentGuidance, RemovingGivesTheFilesBack) {
  TempDir repo;
  write_text(repo / "AGENTS.md", "# Widgets\n\nUse the make targets.\n");
  write_guidance(repo.path(), {"claude-code", "codex", "gemini-cli"}, true);
  write_text(repo / "AGENTS.md", read_text(repo / "AGENTS.md") + "## Added after setup\n");

  EXPECT_EQ(remove_guidance(repo.path()), files({"CLAUDE.md", "AGENTS.md", "GEMINI.md"}));
  EXPECT_EQ(read_text(repo / "AGENTS.md"), "# Widgets\n\nUse the make targets.\n## Added after setup\n");
  EXPECT_FALSE(fs::exists(repo / "CLAUDE.md")) << "a file that held only the block goes with it";
  EXPECT_FALSE(fs::exists(repo / "GEMINI.md"));
  EXPECT_TRUE(remove_guidance(repo.path()).empty());
}

TEST(AgentSkills, PlacedWhereEachAgentLoadsThemAndAnUnchangedFileIsNotRewritten) {
  TempDir repo;
  const services::context_cache::Skill review{.name = "review",
                                              .files = {{"SKILL.md", "# Review\n"}, {"ref/notes.md", "n\n"}}};
  for (const char* agent : {"claude-code", "codex", "gemini-cli", "cursor", "windsurf"}) {
    EXPECT_TRUE(place_skill(repo.path(), agent, review)) << agent;
    EXPECT_EQ(read_text(repo.path() / *skills_dir(agent) / "review" / "ref" / "notes.md"), "n\n") << agent;
  }
  EXPECT_FALSE(place_skill(repo.path(), "aider", review));

  const fs::path skill = repo / ".claude/skills/review/SKILL.md";
  const fs::path notes = repo / ".claude/skills/review/ref/notes.md";
  const fs::file_time_type old = make_old(skill);
  make_old(notes);
  const services::context_cache::Skill revised{.name = "review",
                                               .files = {{"SKILL.md", "# Review\n"}, {"ref/notes.md", "n2\n"}}};
  ASSERT_TRUE(place_skill(repo.path(), "claude-code", revised));
  EXPECT_EQ(fs::last_write_time(skill), old);
  EXPECT_NE(fs::last_write_time(notes), old);
  EXPECT_EQ(read_text(notes), "n2\n");
}

}  // namespace
}  // namespace tamrik::hooks::agent_guidance
