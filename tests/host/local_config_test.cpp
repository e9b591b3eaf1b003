// The local configuration came with the repository: a value of the wrong
// type is read as absent, the same for every reader.

#include "host/services/local_config.hpp"

#include "host/paths.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>

namespace tamrik::services {
namespace {

using testing::TempDir;
using testing::write_text;

TEST(TypedLocalConfig, KeepsOnlyValuesOfTheTypeTamrikWrites) {
  TempDir repo;
  EXPECT_TRUE(read_local_config(repo.path()).empty);

  write_text(paths::local_config_file(repo.path()),
             "agents: [claude-code, '', 7, {name: x}, codex]\n"
             "project_id: ' 12 '\n"
             "team_id: 3\n"
             "installed_at: 2024-05-01T10:00:00Z\n"
             "guidance: 'true'\n"
             "tool_server_added: [1]\n"
             "cache: {etags: {rules: '\"abc\"', specs: 5}}\n");
  const LocalConfig config = read_local_config(repo.path());
  EXPECT_FALSE(config.empty);
  EXPECT_EQ(config.agents, (std::vector<std::string>{"claude-code", "codex"}));
  EXPECT_TRUE(config.names_agents);
  EXPECT_EQ(config.project_id, " 12 ");
  EXPECT_EQ(config.team_id, 3);
  EXPECT_EQ(config.installed_at, "2024-05-01T10:00:00Z");
  EXPECT_FALSE(config.guidance);
  EXPECT_FALSE(config.tool_server_added);
  EXPECT_EQ(config.etags, (std::map<std::string, std::string>{{"rules", "\"abc\""}}));

  write_text(paths::local_config_file(repo.path()),
             "agents: claude-code\ninstalled_at: 5\nguidance: true\ncache: []\n");
  const LocalConfig odd = read_local_config(repo.path());
  EXPECT_TRUE(odd.agents.empty());
  EXPECT_TRUE(odd.names_agents);
  EXPECT_TRUE(odd.project_id.is_null());
  EXPECT_FALSE(odd.installed_at);
  EXPECT_TRUE(odd.guidance);
  EXPECT_TRUE(odd.etags.empty());
}

}  // namespace
}  // namespace tamrik::services
