#include "host/paths.hpp"

#include <gtest/gtest.h>

namespace tamrik::paths {
namespace {

TEST(Paths, NameEveryFileUnderTheTamrikDirectory) {
  const path root = "/repo";
  EXPECT_EQ(log_jsonl(root), "/repo/.tamrik/log.jsonl");
  EXPECT_EQ(attestations_dir(root), "/repo/.tamrik/attestations");
  EXPECT_EQ(commit_attestation(root), "/repo/.tamrik/.commit-attestation.yaml");
  EXPECT_EQ(archived_ledger(root, "ab12"), "/repo/.tamrik/attestations/ab12.ledger.jsonl");
  EXPECT_EQ(ledger_jsonl(root, "login-flow"), "/repo/.tamrik/ledgers/login-flow.jsonl");
  EXPECT_EQ(platform_dir(root), "/repo/.tamrik/.platform");
  EXPECT_EQ(local_config_file(root), "/repo/.tamrik/.platform/config.yaml");
  EXPECT_NE(legacy_dir(root), platform_dir(root));
}

TEST(Paths, SafeSlugsCannotLeaveTheirDirectory) {
  for (const char* ok : {"login-flow", "v1.2_fix", "a", "..hidden", "x..y"}) EXPECT_TRUE(is_safe_slug(ok)) << ok;
  for (const char* bad : {"", ".", "..", "../x", "a/b", "/abs", "a b", "caf\xc3\xa9", "a\\b"}) {
    EXPECT_FALSE(is_safe_slug(bad)) << bad;
  }
  EXPECT_FALSE(is_safe_slug(std::string(129, 'a')));
  EXPECT_FALSE(is_safe_slug(std::string_view("a\0b", 3)));
}

}  // namespace
}  // namespace tamrik::paths
