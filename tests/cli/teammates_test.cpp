// Two developers on one repository, each in a clone of one bare remote with
// a HOME of their own, uploading to one tamrik-platform on loopback. A
// commit belongs to whoever made it: a teammate's pulled commit is neither
// recorded as ours nor allowed to cost them their attestation.

#include "cli_fixture.hpp"
#include "host/agent_fixtures.hpp"
#include "host/services/git_identity.hpp"
#include "platform/platform_process.hpp"

#include <httplib.h>

namespace tamrik::testing {
namespace {

// The remote the platform knows the repository by; pushes and pulls go
// through the bare repository `shared` (a local path names no project).
constexpr const char* kOrigin = "git@example.com:acme/teammates.git";

class Teammates : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();  // Alice's clone with its first commit, her HOME
    git(shared_.path(), {"init", "-q", "--bare"});
    git(alice(), {"remote", "add", "shared", shared_.path().string()});
    git(alice(), {"push", "-q", "shared", "main"});
    git(bob(), {"clone", "-q", "--origin", "shared", shared_.path().string(), "."});
    for (const auto& [clone, email] : {std::pair{alice(), "alice@example.com"}, std::pair{bob(), "bob@example.com"}}) {
      git(clone, {"config", "user.email", email});
      git(clone, {"remote", "add", "origin", kOrigin});
    }
  }

  static void git(const fs::path& clone, std::vector<std::string> args) {
    args.insert(args.begin(), "git");
    const CommandResult result = run_command(args, clone);
    ASSERT_EQ(result.exit_code, 0) << result.out;
  }
  static std::string head(const fs::path& clone) {
    std::string hash = run_command({"git", "rev-parse", "HEAD"}, clone).out;
    while (!hash.empty() && hash.back() == '\n') hash.pop_back();
    return hash;
  }
  fs::path alice() const { return repo_.root(); }
  fs::path bob() const { return bob_clone_.path(); }

  // Git, its hooks and tamrik run as this developer from here on.
  void become(const TempDir& home) {
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home.path() / ".config").c_str(), 1);
  }
  void set_up_and_sign_in(const fs::path& clone) {
    ASSERT_EQ(tamrik({"setup", "--agents", "claude-code"}, "", clone).exit_code, 0);
    ASSERT_EQ(tamrik({"auth", "login", "--api-url", platform_.url()}, platform_.key() + "\n", clone).exit_code, 0);
  }
  void sync(const fs::path& clone) {
    const TamrikResult result = tamrik({"sync"}, "", clone);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
  }

  // The platform's record of `commit`, null when it holds none.
  ordered_json stored(const std::string& commit) {
    httplib::Client client(platform_.url());
    const httplib::Result result =
        client.Get("/v1/projects/1/attestations?limit=1000", {{"Authorization", "Bearer " + platform_.key()}});
    if (!result || result->status != 200) return nullptr;
    const ordered_json body = ordered_json::parse(result->body);
    for (const ordered_json& record : body.at("attestations")) {
      if (record.value("commit", "") == commit) return record;
    }
    return nullptr;
  }

  TempDir shared_, bob_clone_, bob_home_;
  PlatformProcess platform_;
  // Each clone's configured identity makes its commits; the platform skills
  // come from a public registry, which tests never reach.
  agent_fixtures::ScopedEnv env_{
      {"GIT_AUTHOR_EMAIL", std::nullopt}, {"GIT_COMMITTER_EMAIL", std::nullopt}, {"TAMRIK_SKIP_PLATFORM_SKILLS", "1"}};
};

TEST_F(Teammates, AlicesAttestedCommitStaysHersAfterBobPullsCommitsAndSyncs) {
  become(bob_home_);
  set_up_and_sign_in(bob());
  become(home_);
  set_up_and_sign_in(alice());

  // Alice's agent attests and commits; she syncs and pushes.
  write_text(alice() / "alice.txt", "hers\n");
  git(alice(), {"add", "alice.txt"});
  const std::string hash = services::shared::get_staged_diff_hash(alice()).value();
  ASSERT_EQ(tamrik({"attest", "--staged-diff-hash", hash, "--model", "claude-opus-4-6", "--summary", "Alice's change"})
                .exit_code,
            0);
  git(alice(), {"commit", "-q", "-m", "feat: alice"});
  const std::string hers = head(alice());
  sync(alice());
  git(alice(), {"push", "-q", "shared", "main"});
  ASSERT_EQ(stored(hers).value("summary", ""), "Alice's change");

  // Bob pulls, starts an agent session (the catch-up walk), commits on top
  // (the walk below his commit) and syncs.
  become(bob_home_);
  git(bob(), {"pull", "-q", "--ff-only"});
  ASSERT_EQ(head(bob()), hers);
  const ordered_json payload = {{"session_id", "s"}, {"source", "startup"}, {"cwd", bob().string()}};
  EXPECT_EQ(tamrik({"hook", "session-start", "--agent", "claude-code"}, payload.dump(), bob()).exit_code, 0);
  write_text(bob() / "bob.txt", "his\n");
  git(bob(), {"add", "bob.txt"});
  git(bob(), {"commit", "-q", "-m", "fix: bob"});
  const std::string his = head(bob());
  sync(bob());

  std::vector<std::string> bobs_ledger;
  for (const ordered_json& entry : ledger(bob())) bobs_ledger.push_back(entry.value("commit", ""));
  EXPECT_EQ(bobs_ledger, std::vector<std::string>{his});
  const ordered_json alices_record = stored(hers);
  EXPECT_EQ(alices_record.value("summary", ""), "Alice's change") << alices_record.dump();
  EXPECT_FALSE(alices_record.contains("event")) << alices_record.dump();
  EXPECT_EQ(stored(his).value("summary", ""), "fix: bob");
}

}  // namespace
}  // namespace tamrik::testing
