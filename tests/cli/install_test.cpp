// `cmake --install` (what scripts/install runs): the installed tamrik runs
// from its prefix with the libraries installed beside it, not the build
// tree's.

#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace tamrik::testing {
namespace {

TEST(Install, AnInstalledTamrikRunsFromItsPrefixWithItsOwnLibraries) {
  TempDir prefix;
  const CommandResult installed = run_command({"cmake", "--install", TAMRIK_BUILD_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(installed.exit_code, 0) << installed.out;
  for (const char* program : {"bin/tamrik", "bin/tamrik-platform"}) {
    EXPECT_EQ(::access((prefix.path() / program).c_str(), X_OK), 0) << program;
  }
  EXPECT_TRUE(fs::exists(prefix.path() / "lib" / "libtamrik_http.so"));

  const CommandResult version = run_command({(prefix.path() / "bin" / "tamrik").string(), "--version"});
  EXPECT_EQ(version.exit_code, 0) << version.out;
  EXPECT_FALSE(version.out.empty());
  const CommandResult libraries = run_command({"ldd", (prefix.path() / "bin" / "tamrik").string()});
  for (const std::string library : {"libsynccore.so", "libattest.so"}) {
    EXPECT_NE(libraries.out.find(library + " => " + prefix.path().string() + "/bin/../lib/"), std::string::npos)
        << libraries.out;
  }
  EXPECT_EQ(libraries.out.find(TAMRIK_BUILD_DIR), std::string::npos) << libraries.out;
}

}  // namespace
}  // namespace tamrik::testing
