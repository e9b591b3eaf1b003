// `tamrik auth`: the key is stored for the user only, never printed, and
// the environment overrides it.

#include "cli_fixture.hpp"

#include <sys/stat.h>

namespace tamrik::testing {
namespace {

constexpr const char* kKey = "sk-auth-test-SECRET-42";

class Auth : public CliTest {
 protected:
  fs::path credentials() const { return home_.path() / ".config" / "tamrik" / "credentials.json"; }
  TamrikResult login(const std::string& stdin_text, std::vector<std::string> flags = {"--api-url", "http://127.0.0.1:8787/"}) {
    std::vector<std::string> args = {"auth", "login"};
    args.insert(args.end(), flags.begin(), flags.end());
    return tamrik(args, stdin_text);
  }
  static unsigned mode_of(const fs::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
  }
};

TEST_F(Auth, LoginStoresTheKeyForTheUserOnlyAndNeverShowsIt) {
  const TamrikResult stored = login(std::string(kKey) + "\n");
  ASSERT_EQ(stored.exit_code, 0) << stored.err;
  EXPECT_EQ(mode_of(credentials()), 0600u);
  EXPECT_EQ(mode_of(credentials().parent_path()), 0700u);
  const ordered_json saved = ordered_json::parse(read_text(credentials()));
  EXPECT_EQ(saved["api_key"], kKey);
  EXPECT_EQ(saved["api_url"], "http://127.0.0.1:8787") << "a trailing slash is dropped";

  const TamrikResult status = tamrik({"auth", "status"});
  EXPECT_EQ(status.exit_code, 0);
  EXPECT_NE(status.out.find("Signed in to http://127.0.0.1:8787"), std::string::npos) << status.out;
  for (const TamrikResult* run : {&stored, &status}) {
    EXPECT_EQ((run->out + run->err).find(kKey), std::string::npos) << "the key is never printed";
  }

  const TamrikResult again = login("sk-second-key\n", {});
  EXPECT_EQ(again.exit_code, 0) << "the stored URL is kept when none is given: " << again.err;
  EXPECT_EQ(ordered_json::parse(read_text(credentials()))["api_url"], "http://127.0.0.1:8787");
}

TEST_F(Auth, EnvironmentOverridesTheStoredKey) {
  ASSERT_EQ(login(std::string(kKey) + "\n").exit_code, 0);
  const TamrikResult status = run_tamrik({.args = {"auth", "status"}, .cwd = repo_.root(),
                                          .env = {{"TAMRIK_API_KEY", "sk-from-ci-0000"}}});
  EXPECT_NE(status.out.find("key: set, from TAMRIK_API_KEY"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("url: from " + credentials().string()), std::string::npos) << status.out;
  EXPECT_EQ(status.out.find("sk-from-ci-0000"), std::string::npos);
}

TEST_F(Auth, LogoutRemovesTheKey) {
  ASSERT_EQ(login(std::string(kKey) + "\n").exit_code, 0);
  EXPECT_EQ(tamrik({"auth", "logout"}).exit_code, 0);
  EXPECT_FALSE(fs::exists(credentials()));
  const TamrikResult status = tamrik({"auth", "status"});
  EXPECT_EQ(status.exit_code, 1);
  EXPECT_NE(status.out.find("Not signed in"), std::string::npos);
  EXPECT_EQ(tamrik({"auth", "logout"}).exit_code, 0) << "signing out twice is no error";
}

TEST_F(Auth, UnusableInputIsAUsageError) {
  EXPECT_EQ(login("\n").exit_code, 2) << "no key";
  EXPECT_EQ(login("sk with blanks\n").exit_code, 2);
  const TamrikResult no_url = login(std::string(kKey) + "\n", {});
  EXPECT_EQ(no_url.exit_code, 2);
  EXPECT_NE(no_url.err.find("--api-url"), std::string::npos) << no_url.err;
  EXPECT_EQ(login(std::string(kKey) + "\n", {"--api-url", "ftp://example.com"}).exit_code, 2);
  EXPECT_FALSE(fs::exists(credentials()));
}

}  // namespace
}  // namespace tamrik::testing
