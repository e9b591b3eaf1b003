// A normalised remote name, given back as a URL, names the same repository:
// otherwise two spellings of one repository become two projects. Cases found
// by fuzz/remote_name_fuzzer.cpp; disabled until normalise_remote handles
// them (reported to the platform's owner), then to be enabled.

#include "platform/remote_name.hpp"

#include <gtest/gtest.h>

namespace tamrik::platform {
namespace {

void expect_stable(const char* remote) {
  const std::optional<std::string> name = normalise_remote(remote);
  ASSERT_TRUE(name.has_value()) << remote;
  EXPECT_EQ(normalise_remote("https://" + *name), name) << remote;
}

// "repo.git/.git" loses one suffix per pass: "host/o/repo.git", then "host/o/repo".
TEST(RemoteNameStability, DISABLED_RepeatedGitSuffix) { expect_stable("https://host.example/o/repo.git/.git"); }

// An IPv6 host loses its brackets ("::1/o/r"), which no URL can carry.
TEST(RemoteNameStability, DISABLED_Ipv6Host) { expect_stable("https://[::1]:8443/o/r"); }

// A blank before a slash stays in the name ("oh/i "), and goes on the next pass.
TEST(RemoteNameStability, DISABLED_BlankBeforeTrailingSlash) { expect_stable("oh:i /"); }

TEST(RemoteNameStability, OrdinaryRemotesAreStable) {
  for (const char* remote : {"git@github.com:acme/widgets.git", "ssh://git@host.example:2222/group/sub/repo",
                             "https://user:pw@GitLab.Example.com:8443/group/sub/repo.git/"}) {
    expect_stable(remote);
  }
}

}  // namespace
}  // namespace tamrik::platform
