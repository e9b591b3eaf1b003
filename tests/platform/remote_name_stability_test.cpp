// A normalised remote name, given back as a URL, names the same repository:
// otherwise two spellings of one repository become two projects. The odd
// cases were found by fuzz/remote_name_fuzzer.cpp.

#include "platform/remote_name.hpp"

#include <gtest/gtest.h>

namespace tamrik::platform {
namespace {

void expect_stable(const char* remote) {
  const std::optional<std::string> name = normalise_remote(remote);
  ASSERT_TRUE(name.has_value()) << remote;
  EXPECT_EQ(normalise_remote("https://" + *name), name) << remote;
}

TEST(RemoteNameStability, OrdinaryRemotesAreStable) {
  for (const char* remote : {"git@github.com:acme/widgets.git", "ssh://git@host.example:2222/group/sub/repo",
                             "https://user:pw@GitLab.Example.com:8443/group/sub/repo.git/"}) {
    expect_stable(remote);
  }
}

// Every ".git" at the end goes in one pass, however the suffixes nest.
TEST(RemoteNameStability, RepeatedGitSuffix) {
  for (const char* remote : {"https://host.example/o/repo.git/.git", "https://host.example/o/repo.git.git",
                             "git@host.example:o/repo.git/.git/.git/"}) {
    expect_stable(remote);
    EXPECT_EQ(normalise_remote(remote), "host.example/o/repo") << remote;
  }
  EXPECT_EQ(normalise_remote("https://host.example/.git/.git"), std::nullopt);
}

// The name keeps an IPv6 host without brackets, and reads it back as a host.
TEST(RemoteNameStability, Ipv6Host) {
  for (const char* remote : {"https://[::1]:8443/o/r", "ssh://git@[FE80::1:2]/o/r", "https://[::ffff:10.0.0.1]/o/r"}) {
    expect_stable(remote);
  }
  EXPECT_EQ(normalise_remote("https://[::1]:8443/o/r"), "::1/o/r");
  EXPECT_EQ(normalise_remote("https://::1/o/r"), "::1/o/r");
  // A name with one colon is a host and a port, never an IPv6 literal.
  EXPECT_EQ(normalise_remote("https://host:8443/o/r"), "host/o/r");
  EXPECT_EQ(normalise_remote("https://[a:b]/o/r"), std::nullopt);
  EXPECT_EQ(normalise_remote("https://[host.example]/o/r"), std::nullopt);
}

// Blank segments count as empty ones, and blanks at the end of the path go.
TEST(RemoteNameStability, BlankPathSegments) {
  for (const char* remote : {"oh:i /", "https://host/o/ /r/ /", "https://host/o/r /.git", "git@host:o/r.git /"}) {
    expect_stable(remote);
  }
  EXPECT_EQ(normalise_remote("oh:i /"), "oh/i");
  EXPECT_EQ(normalise_remote("https://host/o/ /r/ /"), "host/o/r");
  EXPECT_EQ(normalise_remote("https://host/o/my repo"), "host/o/my repo");
  EXPECT_EQ(normalise_remote("https://host/ / /"), std::nullopt);
}

}  // namespace
}  // namespace tamrik::platform
