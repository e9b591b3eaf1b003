// `tamrik auth`: the key is checked with the platform before it is stored,
// stored for the user only, never printed, and the environment overrides it.

#include "cli_fixture.hpp"

#include "host/fault_server.hpp"
#include "platform/platform_process.hpp"

#include <sys/stat.h>

namespace tamrik::testing {
namespace {

constexpr const char* kKey = "sk-auth-test-SECRET-42";

// The URL of a loopback port nothing listens on.
std::string closed_port_url() {
  const FaultServer gone(answer_with(200, "{}"));
  return gone.url();
}

class Auth : public CliTest {
 protected:
  fs::path credentials() const { return home_.path() / ".config" / "tamrik" / "credentials.json"; }
  // Without flags: to the platform's URL, with a trailing slash.
  TamrikResult login(const std::string& stdin_text, std::vector<std::string> flags = {}) {
    if (flags.empty()) flags = {"--api-url", platform_.url() + "/"};
    std::vector<std::string> args = {"auth", "login"};
    args.insert(args.end(), flags.begin(), flags.end());
    return tamrik(args, stdin_text);
  }
  static unsigned mode_of(const fs::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
  }

  PlatformProcess platform_{PlatformOptions{.api_keys = {"sk-other-member", kKey}}};
};

TEST_F(Auth, LoginStoresTheKeyForTheUserOnlyAndNeverShowsIt) {
  const TamrikResult stored = login(std::string(kKey) + "\n");
  ASSERT_EQ(stored.exit_code, 0) << stored.err;
  EXPECT_NE(stored.out.find("Signed in to " + platform_.url() + " as key 2 (team 1)"), std::string::npos) << stored.out;
  EXPECT_EQ(mode_of(credentials()), 0600u);
  EXPECT_EQ(mode_of(credentials().parent_path()), 0700u);
  const ordered_json saved = ordered_json::parse(read_text(credentials()));
  EXPECT_EQ(saved["api_key"], kKey);
  EXPECT_EQ(saved["api_url"], platform_.url()) << "a trailing slash is dropped";

  const TamrikResult status = tamrik({"auth", "status"});
  EXPECT_EQ(status.exit_code, 0);
  EXPECT_NE(status.out.find("Signed in to " + platform_.url()), std::string::npos) << status.out;
  for (const TamrikResult* run : {&stored, &status}) {
    EXPECT_EQ((run->out + run->err).find(kKey), std::string::npos) << "the key is never printed";
  }

  const TamrikResult again = login("sk-other-member\n", {"--api-key", "sk-other-member"});
  EXPECT_EQ(again.exit_code, 0) << "the URL in use is kept when none is given: " << again.err;
  EXPECT_NE(again.out.find("No --api-url given: the key is for " + platform_.url() + " (from " +
                           credentials().string() + ")"),
            std::string::npos)
      << again.out;
  EXPECT_EQ(ordered_json::parse(read_text(credentials()))["api_url"], platform_.url());
}

// Nothing is stored unless the platform accepted the key at that URL, and
// each refusal says what was wrong.
TEST_F(Auth, LoginChecksTheKeyAndTheUrlWithThePlatformFirst) {
  const std::string dead = closed_port_url();
  const TamrikResult wrong_key = login("sk-wrong\n");
  EXPECT_EQ(wrong_key.exit_code, 1);
  EXPECT_NE(wrong_key.err.find("API key rejected by " + platform_.url() +
                               ": check the key and run `tamrik auth login` again"),
            std::string::npos)
      << wrong_key.err;
  const TamrikResult dead_port = login(std::string(kKey) + "\n", {"--api-url", dead});
  EXPECT_EQ(dead_port.exit_code, 1);
  EXPECT_NE(dead_port.err.find("Could not reach " + dead + ": is the platform running? use --offline"),
            std::string::npos)
      << dead_port.err;
  const TamrikResult typo = login(std::string(kKey) + "\n", {"--api-url", platform_.url() + "/tamrik"});
  EXPECT_EQ(typo.exit_code, 1);
  EXPECT_NE(typo.err.find("(HTTP 404): check the URL"), std::string::npos) << typo.err;
  const TamrikResult clear_text = login(std::string(kKey) + "\n", {"--api-url", "http://tamrik.example.com"});
  EXPECT_EQ(clear_text.exit_code, 2);
  EXPECT_NE(clear_text.err.find("http:// is only allowed for this machine"), std::string::npos) << clear_text.err;
  EXPECT_FALSE(fs::exists(credentials()));

  ASSERT_EQ(login(std::string(kKey) + "\n").exit_code, 0);
  const TamrikResult replaced = login("sk-wrong\n", {"--api-key", "sk-wrong"});
  EXPECT_EQ(replaced.exit_code, 1) << "a key replaced without a URL is checked too";
  EXPECT_EQ(ordered_json::parse(read_text(credentials()))["api_key"], kKey);

  const TamrikResult offline = login(std::string(kKey) + "\n", {"--api-url", dead, "--offline"});
  EXPECT_EQ(offline.exit_code, 0) << offline.err;
  EXPECT_NE(offline.out.find("unchecked (--offline)"), std::string::npos) << offline.out;
  EXPECT_EQ(ordered_json::parse(read_text(credentials()))["api_url"], dead);
}

TEST_F(Auth, EnvironmentOverridesTheStoredKey) {
  ASSERT_EQ(login(std::string(kKey) + "\n").exit_code, 0);
  const TamrikResult status =
      run_tamrik({.args = {"auth", "status"}, .cwd = repo_.root(), .env = {{"TAMRIK_API_KEY", "sk-from-ci-0000"}}});
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
  const TamrikResult no_url = login("", {"--api-key", kKey});
  EXPECT_EQ(no_url.exit_code, 2);
  EXPECT_NE(no_url.err.find("--api-url"), std::string::npos) << no_url.err;
  EXPECT_EQ(login(std::string(kKey) + "\n", {"--api-url", "ftp://example.com"}).exit_code, 2);
  EXPECT_FALSE(fs::exists(credentials()));
}

}  // namespace
}  // namespace tamrik::testing
