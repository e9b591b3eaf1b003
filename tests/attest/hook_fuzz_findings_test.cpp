// Inputs fuzz/hook_payload_fuzzer.cpp found the hook path mishandling.

#include "attest/hook.hpp"
#include "support/test_env.hpp"

#include <gtest/gtest.h>

namespace tamrik::attest {
namespace {

using testing::TempDir;

// A payload's cwd is any JSON text, "\u0000" included. The file system reads
// a path only up to the NUL, so every existing directory before one used to
// pass for a repository root.
TEST(HookFuzzFindings, ACwdWithANulByteNamesNoRepository) {
  const TempDir dir;
  std::filesystem::create_directories(dir / "repo/.git");
  std::filesystem::create_directories(dir / "plain");
  for (const char* tail : {"", "/", "/elsewhere", "/.git"}) {
    EXPECT_EQ(_repo_root_for((dir / "plain").native() + '\0' + tail), std::nullopt) << tail;
    EXPECT_EQ(_repo_root_for((dir / "repo").native() + '\0' + tail), std::nullopt) << tail;
  }
  EXPECT_EQ(_repo_root_for(dir / "repo/src"), dir / "repo");
}

}  // namespace
}  // namespace tamrik::attest
