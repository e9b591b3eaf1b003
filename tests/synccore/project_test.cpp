// Project resolution against a real tamrik-platform and against fault
// servers on 127.0.0.1: what is saved, every failure's code and remedy, and
// the pending attestation filed before anything waits on the network.

#include "synccore/project.hpp"

#include "core/json.hpp"
#include "host/fault_server.hpp"
#include "host/paths.hpp"
#include "host/services/git_identity.hpp"
#include "host/services/repo_identity.hpp"
#include "host/services/shared.hpp"
#include "platform/platform_process.hpp"
#include "support/test_env.hpp"
#include "synccore/test_adapter.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tamrik::synccore {
namespace {

namespace fs = std::filesystem;
namespace client = protocol::http_client;
using services::shared::load_local_config;
using testing::answer_with;
using testing::FaultServer;
using testing::GitRepo;
using testing::read_text;
using testing::TempDir;
using testing::write_text;

constexpr const char* kProjectKey = "sk-resolve-SECRET-0123456789abcdef";

// A repository whose origin is `remote`.
class OriginRepo : public GitRepo {
 public:
  explicit OriginRepo(const std::string& remote) { git({"remote", "add", "origin", remote}); }
};

void expect_no_key(const ProjectResolution& resolution) {
  EXPECT_EQ(resolution.reason.value_or("").find(kProjectKey), std::string::npos) << *resolution.reason;
}

// The URL of a port nothing listens on.
std::string closed_port_url() {
  FaultServer gone(answer_with(200, "{}"));
  return gone.url();
}

// ---------------------------------------------------------------------------
// Against tamrik-platform

TEST(ResolveAgainstPlatform, CreatesTheProjectOnceAndFindsItFromSshAndHttpsRemotes) {
  testing::PlatformProcess platform(testing::PlatformOptions{.api_keys = {kProjectKey}});
  const OriginRepo ssh("git@github.com:acme/widgets.git");
  const OriginRepo https("https://github.com/acme/widgets");

  const ProjectResolution created = resolve_project_id(ssh.root(), kProjectKey, platform.url(), 7);
  ASSERT_TRUE(created.ok()) << created.reason.value_or("");
  EXPECT_TRUE(created.created);
  EXPECT_EQ(created.title, "widgets");
  EXPECT_EQ(created.reason, std::nullopt);
  EXPECT_EQ(created.code, std::nullopt);
  EXPECT_EQ(load_local_config(ssh.root()), Json({{"project_id", *created.project_id}, {"team_id", 7}}));

  const ProjectResolution found = resolve_project_id(https.root(), kProjectKey, platform.url());
  EXPECT_EQ(found.project_id, created.project_id);
  EXPECT_FALSE(found.created);
  EXPECT_EQ(load_local_config(https.root()), Json({{"project_id", *created.project_id}}));

  const ProjectResolution other =
      resolve_project_id(OriginRepo("git@github.com:acme/gadgets.git").root(), kProjectKey, platform.url());
  EXPECT_TRUE(other.created);
  EXPECT_NE(other.project_id, created.project_id);
}

// ---------------------------------------------------------------------------
// Linking an unlinked repository

// Stages a change and writes the agent's attestation for it, as an agent
// does between `tamrik attest` and `git commit`.
void attest_staged_change(GitRepo& repo) {
  write_text(repo.root() / "login.txt", "form\n");
  repo.git({"add", "login.txt"});
  const std::string diff_hash = *services::shared::get_staged_diff_hash(repo.root());
  write_text(paths::commit_attestation(repo.root()),
             "---\nstaged_diff_hash: \"" + diff_hash +
                 "\"\ntimestamp: \"2024-05-01T10:00:00Z\"\nagent_model: m\nsummary: Add the login form\n---\n");
}

// An attested change, committed; returns the commit.
std::string commit_attested(GitRepo& repo) {
  repo.commit("chore: start");
  attest_staged_change(repo);
  repo.git({"commit", "-q", "-m", "feat: login form"});
  return repo.head();
}

bool archived_for(const GitRepo& repo, const std::string& commit) {
  return fs::exists(paths::attestations_dir(repo.root()) / (commit + ".yaml"));
}

TEST(ResolveIfUnlinked, ThePendingAttestationIsFiledEvenWhenThePlatformIsUnreachable) {
  testing::FixtureRegistry registry;
  OriginRepo repo("git@github.com:acme/widgets.git");
  const std::string head = commit_attested(repo);

  const auto [archived, resolution] = resolve_if_unlinked(Checkout::main(repo.root()), kProjectKey, closed_port_url());
  EXPECT_TRUE(archived.found);
  EXPECT_EQ(archived.matched_commit, head);
  EXPECT_TRUE(archived_for(repo, head));
  EXPECT_FALSE(fs::exists(paths::commit_attestation(repo.root())));
  ASSERT_TRUE(resolution.has_value());
  EXPECT_FALSE(resolution->ok());
  EXPECT_EQ(resolution->code, "unreachable");
  EXPECT_EQ(resolution->reason, "could not reach tamrik (ConnectionError)");
}

TEST(ResolveIfUnlinked, ALinkedRepositoryOnlyFilesItsPendingAttestation) {
  testing::FixtureRegistry registry;
  OriginRepo repo("git@github.com:acme/widgets.git");
  services::shared::save_local_config(repo.root(), {{"project_id", 12}});
  const std::string head = commit_attested(repo);
  FaultServer server(answer_with(200, R"({"projectId": 99})"));

  const auto [archived, resolution] = resolve_if_unlinked(Checkout::main(repo.root()), kProjectKey, server.url());
  EXPECT_EQ(archived.matched_commit, head);
  EXPECT_EQ(resolution, std::nullopt);
  EXPECT_EQ(server.connections(), 0);

  services::shared::save_local_config(repo.root(), {{"team_id", 3}});  // unlinked again
  const auto [nothing_pending, linked] = resolve_if_unlinked(Checkout::main(repo.root()), kProjectKey, server.url());
  EXPECT_FALSE(nothing_pending.found);
  ASSERT_TRUE(linked.has_value());
  EXPECT_EQ(linked->project_id, 99);
  EXPECT_EQ(load_local_config(repo.root())["project_id"], 99);
}

// A sync between `tamrik attest` and `git commit`, signed out or linked:
// filing then would pin the attestation on the previous commit and leave
// the real one without it.
TEST(ResolveIfUnlinked, AnAttestationForAChangeNotCommittedYetWaitsForItsCommit) {
  testing::FixtureRegistry registry;
  OriginRepo repo("git@github.com:acme/widgets.git");
  const std::string previous = repo.commit("chore: start");
  attest_staged_change(repo);

  const auto [signed_out, not_signed_in] = resolve_if_unlinked(Checkout::main(repo.root()), "", "");
  EXPECT_TRUE(signed_out.found);
  EXPECT_EQ(signed_out.matched_commit, std::nullopt);
  EXPECT_EQ(signed_out.error, std::nullopt);
  ASSERT_TRUE(not_signed_in.has_value());
  EXPECT_EQ(not_signed_in->code, NOT_SIGNED_IN);

  services::shared::save_local_config(repo.root(), {{"project_id", 12}});
  const auto [linked, no_resolve] = resolve_if_unlinked(Checkout::main(repo.root()), kProjectKey, closed_port_url());
  EXPECT_TRUE(linked.found);
  EXPECT_EQ(linked.matched_commit, std::nullopt);
  EXPECT_EQ(no_resolve, std::nullopt);
  EXPECT_TRUE(fs::exists(paths::commit_attestation(repo.root())));
  EXPECT_FALSE(archived_for(repo, previous));

  repo.git({"commit", "-q", "-m", "feat: login form"});
  const std::string attested = repo.head();
  const auto [filed, resolution] = resolve_if_unlinked(Checkout::main(repo.root()), kProjectKey, closed_port_url());
  EXPECT_EQ(filed.matched_commit, attested);
  EXPECT_TRUE(archived_for(repo, attested));
  EXPECT_FALSE(archived_for(repo, previous));
  EXPECT_FALSE(fs::exists(paths::commit_attestation(repo.root())));
}

// ---------------------------------------------------------------------------
// Failures, each a code with a remedy

TEST(ResolveFailures, MissingCredentialsAnswerBeforeTheRemoteIsLookedAt) {
  TempDir not_a_repo;  // would be no_origin, if it were asked
  for (const auto& [key, url] : {std::pair{"", "http://127.0.0.1:1"}, std::pair{kProjectKey, ""}}) {
    const ProjectResolution resolution = resolve_project_id(not_a_repo.path(), key, url);
    EXPECT_FALSE(resolution.ok());
    EXPECT_EQ(resolution.code, NOT_SIGNED_IN);
    EXPECT_EQ(resolution.reason, "not signed in");
  }
  const ProjectResolution no_origin = resolve_project_id(GitRepo().root(), kProjectKey, "http://127.0.0.1:1");
  EXPECT_EQ(no_origin.code, NO_ORIGIN);
  EXPECT_EQ(no_origin.reason, "this repo has no origin remote");
  EXPECT_EQ(services::repo_identity::origin_remote(not_a_repo.path()), std::nullopt);
}

TEST(ResolveFailures, EachRefusalKeepsTheServersCodeAndMessage) {
  const OriginRepo repo("git@github.com:acme/widgets.git");
  for (const auto& [code, status] : std::vector<std::pair<std::string_view, int>>{{client::CODE_KEY_REJECTED, 401},
                                                                                  {client::CODE_ACCOUNT_INACTIVE, 402},
                                                                                  {client::CODE_AMBIGUOUS_TEAM, 409},
                                                                                  {client::CODE_REPO_AMBIGUOUS, 409},
                                                                                  {client::CODE_REPO_CONFLICT, 409},
                                                                                  {client::CODE_NOT_A_MEMBER, 403},
                                                                                  {client::CODE_CAPACITY, 403},
                                                                                  {client::CODE_BAD_REMOTE, 422}}) {
    FaultServer server(answer_with(status, R"({"error": {"code": ")" + std::string(code) +
                                               R"(", "message": "Refused for )" + kProjectKey + R"("}})"));
    const ProjectResolution resolution = resolve_project_id(repo.root(), kProjectKey, server.url());
    EXPECT_FALSE(resolution.ok());
    EXPECT_EQ(resolution.code, code);
    EXPECT_EQ(resolution.reason, "Refused for [redacted] (HTTP " + std::to_string(status) + ")");
    expect_no_key(resolution);
    EXPECT_NE(remedy(resolution.code), _REMEDY_UNREACHABLE) << code;
  }
  EXPECT_FALSE(services::shared::local_config_exists(repo.root()));
}

TEST(ResolveFailures, NoUsableAnswerIsUnreachableNamedByClassOnly) {
  const OriginRepo repo("git@github.com:acme/widgets.git");
  FaultServer down(answer_with(500, R"({"error": {"code": "internal", "message": "db at 10.0.0.7 down"}})"));
  FaultServer portal(answer_with(200, "<html>sign in to the wifi</html>"));
  for (const auto& [url, class_name] :
       {std::pair{closed_port_url(), "ConnectionError"}, std::pair{down.url(), "ServerError"},
        std::pair{portal.url(), "InvalidResponseError"}}) {
    const ProjectResolution resolution = resolve_project_id(repo.root(), kProjectKey, url);
    EXPECT_EQ(resolution.code, "unreachable");
    EXPECT_EQ(resolution.reason, "could not reach tamrik (" + std::string(class_name) + ")");
    EXPECT_EQ(remedy(resolution.code), _REMEDY_UNREACHABLE);
  }
  // Nothing was sent, and waiting will not help: a remedy of its own.
  const ProjectResolution clear_text = resolve_project_id(repo.root(), kProjectKey, "http://tamrik.example.com");
  EXPECT_EQ(clear_text.code, BAD_CONFIGURATION);
  EXPECT_EQ(clear_text.reason, "could not reach tamrik (ConfigurationError)");
  EXPECT_NE(remedy(clear_text.code).find("another host needs https://"), std::string::npos);
}

TEST(ResolveFailures, OnlyAPositiveIntegerIsAProjectId) {
  const OriginRepo repo("git@github.com:acme/widgets.git");
  for (const auto& [answer, expected] : std::vector<std::pair<std::string, std::optional<long long>>>{
           {R"({"projectId": "42"})", 42},
           {R"({"projectId": 42.0, "title": 5})", 42},
           {R"({"title": "widgets"})", std::nullopt},
           {R"({"projectId": "forty-two"})", std::nullopt},
           {R"({"projectId": 4.5})", std::nullopt},
           {R"({"projectId": true})", std::nullopt},
           {R"({"projectId": 0})", std::nullopt},
           {R"({"projectId": null})", std::nullopt},
       }) {
    services::shared::save_local_config(repo.root(), Json::object());
    FaultServer server(answer_with(200, answer));
    const ProjectResolution resolution = resolve_project_id(repo.root(), kProjectKey, server.url());
    EXPECT_EQ(resolution.project_id, expected) << answer;
    if (expected) {
      EXPECT_EQ(resolution.title, std::nullopt) << answer;  // a title that is not text is no title
      EXPECT_EQ(load_local_config(repo.root())["project_id"], *expected);
    } else {
      EXPECT_EQ(resolution.code, "bad_response") << answer;
      EXPECT_EQ(resolution.reason, "the server returned no usable project id");
      EXPECT_FALSE(load_local_config(repo.root()).contains("project_id")) << answer;
    }
  }
}

TEST(ResolveFailures, TheSavedTeamIsSentWhenNoneIsGiven) {
  const OriginRepo repo("git@github.com:acme/widgets.git");
  services::shared::save_local_config(repo.root(), {{"team_id", "8"}});
  FaultServer server(answer_with(200, R"({"projectId": 5, "created": 1})"));
  EXPECT_TRUE(resolve_project_id(repo.root(), kProjectKey, server.url()).created);
  EXPECT_TRUE(resolve_project_id(repo.root(), kProjectKey, server.url(), 9).ok());
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(core::parse_json(requests[0].body), Json({{"remote", "git@github.com:acme/widgets.git"}, {"team_id", 8}}));
  EXPECT_EQ(core::parse_json(requests[1].body)->at("team_id"), 9);
  EXPECT_EQ(load_local_config(repo.root()), Json({{"team_id", 9}, {"project_id", 5}}));
}

TEST(ResolveFailures, AnIdThatCannotBeSavedIsNotOk) {
  const OriginRepo repo("git@github.com:acme/widgets.git");
  // A file where the configuration's directory belongs: no save can succeed,
  // whoever runs the test (permissions do not stop root).
  write_text(paths::platform_dir(repo.root()), "in the way\n");
  FaultServer server(answer_with(200, R"({"projectId": 5})"));
  const ProjectResolution resolution = resolve_project_id(repo.root(), kProjectKey, server.url());
  EXPECT_FALSE(resolution.ok());
  EXPECT_EQ(resolution.code, CONFIG_UNWRITABLE);
  EXPECT_TRUE(resolution.reason->starts_with("could not save the project id locally (")) << *resolution.reason;
  EXPECT_TRUE(resolution.reason->ends_with("Error)")) << *resolution.reason;
  EXPECT_NE(remedy(resolution.code).find("every sync re-resolves"), std::string::npos);
}

TEST(ResolveFailures, AReadOnlyConfigurationIsNotReplaced) {
  const OriginRepo repo("git@github.com:acme/widgets.git");
  const fs::path config = paths::local_config_file(repo.root());
  write_text(config, "agents: [claude-code]\n");
  ASSERT_EQ(::chmod(config.c_str(), 0444), 0);
  FaultServer server(answer_with(200, R"({"projectId": 5})"));
  const ProjectResolution resolution = resolve_project_id(repo.root(), kProjectKey, server.url());
  EXPECT_EQ(resolution.code, CONFIG_UNWRITABLE);
  EXPECT_EQ(read_text(config), "agents: [claude-code]\n");
  struct stat st {};
  ASSERT_EQ(::stat(config.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST(Remedy, KnownCodesHaveTheirTextAndEveryOtherCodeTheUnreachableOne) {
  EXPECT_EQ(_REMEDIES.size(), 12u);
  for (const auto& [code, text] : _REMEDIES) EXPECT_EQ(remedy(code), text);
  EXPECT_EQ(remedy(NOT_SIGNED_IN), "Run `tamrik auth login` and they upload on the next `tamrik sync`.");
  EXPECT_EQ(remedy(client::CODE_KEY_REJECTED), "Run `tamrik auth login`.");
  for (const std::optional<std::string_view> code :
       {std::optional<std::string_view>("unreachable"), std::optional<std::string_view>("bad_response"),
        std::optional<std::string_view>("no_such_code"), std::optional<std::string_view>(""),
        std::optional<std::string_view>()}) {
    EXPECT_EQ(remedy(code), "They will upload on the next `tamrik sync` that can reach a project.");
  }
}

}  // namespace
}  // namespace tamrik::synccore
