// Whether uploads can go out, decided from disk: credentials per user (or
// from the environment, for CI) and the project the repository is linked to.

#include "host/services/session_context.hpp"
#include "host/services/shared.hpp"

#include "support/test_env.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tamrik::services::session_context {
namespace {

using testing::TempDir;
using testing::write_text;

class ResolveSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("HOME", home_.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("TAMRIK_API_KEY");
    ::unsetenv("TAMRIK_API_URL");
  }
  void TearDown() override {
    ::unsetenv("TAMRIK_API_KEY");
    ::unsetenv("TAMRIK_API_URL");
  }

  void link(const core::Json& project_id) { shared::save_local_config(repo_.path(), {{"project_id", project_id}}); }
  void store(const std::string& text) { write_text(home_ / ".config/tamrik/credentials.json", text); }

  TempDir home_;
  TempDir repo_;
};

TEST_F(ResolveSession, ConnectedOnlyWhenSignedInAndLinked) {
  EXPECT_FALSE(resolve_session(repo_.path()).connected);
  store(R"({"api_key": "k", "api_url": "https://platform.example"})");
  Session session = resolve_session(repo_.path());
  EXPECT_TRUE(session.signed_in());
  EXPECT_FALSE(session.connected);

  link(42);
  session = resolve_session(repo_.path());
  EXPECT_TRUE(session.connected);
  EXPECT_EQ(session.api_key, "k");
  EXPECT_EQ(session.api_url, "https://platform.example");
  EXPECT_EQ(session.project_id, 42);
}

TEST_F(ResolveSession, EachVariableOverridesItsOwnField) {
  store(R"({"api_key": "stored", "api_url": "https://stored.example"})");
  ::setenv("TAMRIK_API_KEY", "from-ci", 1);
  const Session session = resolve_session(repo_.path());
  EXPECT_EQ(session.api_key, "from-ci");
  EXPECT_EQ(session.api_url, "https://stored.example");
}

TEST_F(ResolveSession, TheCredentialsFileFollowsAnAbsoluteXdgConfigHome) {
  const TempDir xdg;
  ::setenv("XDG_CONFIG_HOME", xdg.path().c_str(), 1);
  EXPECT_EQ(credentials_file(), xdg / "tamrik/credentials.json");
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  EXPECT_EQ(credentials_file(), home_ / ".config/tamrik/credentials.json");
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(ResolveSession, UnusableFilesAndIdsMeanNotConnected) {
  store("{not json");
  EXPECT_FALSE(resolve_session(repo_.path()).signed_in());
  store(R"({"api_key": 7, "api_url": "https://x"})");
  EXPECT_FALSE(resolve_session(repo_.path()).signed_in());

  store(R"({"api_key": "k", "api_url": "https://x"})");
  for (const core::Json& id :
       {core::Json(0), core::Json(-3), core::Json("  "), core::Json(true), core::Json(nullptr)}) {
    link(id);
    EXPECT_FALSE(resolve_session(repo_.path()).connected) << id.dump();
  }
  link("proj-7");
  EXPECT_TRUE(resolve_session(repo_.path()).connected);

  testing::write_text(repo_ / ".tamrik/.platform/config.yaml", "project_id: [unclosed\n");
  EXPECT_FALSE(resolve_session(repo_.path()).linked());
}

}  // namespace
}  // namespace tamrik::services::session_context
