// The context cache's files: names from the platform never leave their
// directory, directories hold exactly what was fetched, and tags are only
// offered for copies still on disk.

#include "host/services/context_cache.hpp"

#include "host/paths.hpp"
#include "host/services/shared.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace tamrik::services::context_cache {
namespace {

namespace fs = std::filesystem;
using testing::read_text;
using testing::TempDir;
using testing::write_text;

// Every file under `dir`, relative to it.
std::set<std::string> files_under(const fs::path& dir) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files.insert(entry.path().lexically_relative(dir).string());
  }
  return files;
}

Documents fetched(std::string_view name, Json content) {
  Documents documents;
  documents[std::string(name)] = {.status = 200, .etag = "\"t1\"", .content = std::move(content)};
  return documents;
}

TEST(ContextCacheFiles, NamesThatCouldLeaveTheirDirectoryAreSkipped) {
  TempDir repo;
  write_documents(repo.path(), fetched(SPECS, Json::parse(R"([
      {"name": "../escape.md", "content": "x"}, {"name": "..", "content": "x"},
      {"name": "a/b.md", "content": "x"}, {"name": "ok.md", "content": "fine"}, {"name": "no-content.md"}])")));
  write_documents(repo.path(), fetched(SKILLS, Json::parse(R"([
      {"name": "../up", "files": {"SKILL.md": "x"}},
      {"name": "review", "files": {"SKILL.md": "# Review", "ref/notes.md": "n", "../../evil": "x",
                                   "/etc/evil": "x", "a//b": "x", "ref/../x": "x"}}])")));

  EXPECT_EQ(files_under(repo.path()),
            (std::set<std::string>{".tamrik/.platform/specs/ok.md", ".tamrik/.platform/skills/review/SKILL.md",
                                   ".tamrik/.platform/skills/review/ref/notes.md"}));
}

TEST(ContextCacheFiles, DirectoryHoldsExactlyTheLastFetch) {
  TempDir repo;
  const fs::path specs = paths::platform_dir(repo.path()) / "specs";
  write_documents(
      repo.path(),
      fetched(SPECS, Json::parse(R"([{"name": "a.md", "content": "A"}, {"name": "b.md", "content": "B"}])")));
  write_documents(repo.path(), fetched(SPECS, Json::parse(R"([{"name": "b.md", "content": "B2"}])")));
  EXPECT_EQ(files_under(specs), std::set<std::string>{"b.md"});
  EXPECT_EQ(read_text(specs / "b.md"), "B2");

  Documents refused;
  refused[std::string(SPECS)] = {.status = 401};
  write_documents(repo.path(), refused);
  EXPECT_EQ(read_text(specs / "b.md"), "B2") << "a failed fetch leaves the copy";
}

TEST(ContextCacheFiles, TagsAreRecordedAndOfferedOnlyForCopiesOnDisk) {
  TempDir repo;
  shared::save_local_config(repo.path(), {{"project_id", 3}});
  Documents documents = fetched(RULES, {{"principles", {{"p", "x"}}}});
  documents[std::string(STATE)] = {.status = 503};
  write_documents(repo.path(), documents);
  record_fetches(repo.path(), documents);

  const Json config = shared::load_local_config(repo.path());
  EXPECT_EQ(config["project_id"], 3) << "the rest of the configuration is kept";
  EXPECT_EQ(config["cache"]["fetch_status"], Json({{"tamrikrules", 200}, {"tamrikstate", 503}}));
  EXPECT_EQ(stored_etags(repo.path()), (std::map<std::string, std::string>{{"tamrikrules", "\"t1\""}}));

  fs::remove(paths::platform_dir(repo.path()) / "tamrikrules.yaml");
  EXPECT_TRUE(stored_etags(repo.path()).empty()) << "a 304 for a deleted copy would leave no rules at all";
}

}  // namespace
}  // namespace tamrik::services::context_cache
