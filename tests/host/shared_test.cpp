#include "host/services/shared.hpp"

#include "core/errors.hpp"
#include "host/paths.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tamrik::services::shared {
namespace {

using testing::TempDir;
using testing::write_text;

TEST(LocalConfig, AbsentUntilWrittenInAnyLayout) {
  TempDir repo;
  EXPECT_FALSE(local_config_exists(repo.path()));
  EXPECT_EQ(load_local_config(repo.path()), Json::object());

  write_text(paths::legacy_dir(repo.path()) / "config.json", R"({"project_id": 7})");
  EXPECT_TRUE(local_config_exists(repo.path()));
  EXPECT_EQ(load_local_config(repo.path())["project_id"], 7);

  // The current layout wins over the older one.
  Json config = Json::object();
  config["project_id"] = 12;
  config["installed_at"] = "2024-05-01T10:00:00Z";
  config["agents"] = Json::array({"claude-code", "codex"});
  save_local_config(repo.path(), config);
  EXPECT_EQ(load_local_config(repo.path()), config);

  struct stat st {};
  ASSERT_EQ(::stat(paths::local_config_file(repo.path()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LocalConfig, BrokenFilesAreReportedOrReadAsEmpty) {
  TempDir repo;
  write_text(paths::local_config_file(repo.path()), "- just\n- a list\n");
  EXPECT_EQ(load_local_config(repo.path()), Json::object());
  write_text(paths::local_config_file(repo.path()), "key: [unclosed\n");
  EXPECT_THROW(load_local_config(repo.path()), core::YAMLError);
}

TEST(StripYamlDelimiters, RemovesTheFrontMatterLines) {
  EXPECT_EQ(strip_yaml_delimiters("---\na: 1\nb: 2\n---\n"), "a: 1\nb: 2\n");
  EXPECT_EQ(strip_yaml_delimiters("\n---\r\na: 1\n---\ntrailing: text\n"), "a: 1\n");
  EXPECT_EQ(strip_yaml_delimiters("a: 1\n"), "a: 1\n");
  EXPECT_EQ(strip_yaml_delimiters("---\n---\n"), "");
  EXPECT_EQ(strip_yaml_delimiters("a: '--- not a delimiter'\n"), "a: '--- not a delimiter'\n");
}

TEST(ChangeSpecSlugs, ComeFromTheProvenanceAndAreSafe) {
  Json doc = Json::parse(R"({"provenance": {"type": "spec", "ref": "login-flow",
      "change_specs": ["login-flow", {"slug": "audit-log"}, "../../etc", {"slug": 5}, "a/b"]}})");
  EXPECT_EQ(extract_change_spec_slugs(doc), (std::vector<std::string>{"login-flow", "audit-log"}));
  EXPECT_TRUE(extract_change_spec_slugs(Json::parse(R"({"provenance": {"type": "ticket", "ref": "T-1"}})")).empty());
  EXPECT_TRUE(extract_change_spec_slugs(Json::parse(R"({"provenance": "spec"})")).empty());
  EXPECT_TRUE(extract_change_spec_slugs(Json::array()).empty());
}

}  // namespace
}  // namespace tamrik::services::shared
