// Teams on one platform: a key reads and writes only its member's teams'
// projects, on every route; the administrator's commands manage them.

#include "core/sha256.hpp"
#include "platform/platform_client.hpp"

namespace tamrik::testing {
namespace {

using core::Json;

// The project routes, each with a body when it is a POST.
const std::vector<std::pair<std::string, std::optional<Json>>> kProjectRoutes = {
    {"/attestations", Json{{"attestations", {{{"commit", "intruder"}}}}}},
    {"/attestations", std::nullopt},
    {"/state/detailed", Json{{"etags", Json::object()}}},
    {"/context", std::nullopt},
    {"/system-context?systems=a", std::nullopt},
    {"/state", std::nullopt},
    {"/specs", std::nullopt},
    {"/docs", std::nullopt},
    {"/skills", std::nullopt},
    {"/memories", std::nullopt},
    {"/guardrails", std::nullopt},
};

class Teams : public PlatformClientTest {
 protected:
  // Runs an administrator's command on the server's database; its output.
  std::string admin(std::vector<std::string> args) {
    args.insert(args.begin(), platform_binary());
    args.insert(args.end(), {"--db", platform_.db()});
    const CommandResult result = run_command(args);
    EXPECT_EQ(result.exit_code, 0) << result.out;
    return result.out;
  }
  // The id in "added team 2: ..." and the like.
  long long added(const std::vector<std::string>& args) {
    const std::string out = admin(args);
    return std::stoll(out.substr(out.find(' ', 6) + 1));
  }
  std::string key_of(long long member) {
    std::string out = admin({"keys", "add", "--member", std::to_string(member)});
    out.pop_back();
    return out.substr(out.rfind('\n') + 1);
  }

  Answer call(const std::string& key, const std::string& path, const std::optional<Json>& body) {
    return body ? post(path, core::to_json_compact(*body), key) : get(path, key);
  }
  Answer resolve(const std::string& key, const Json& body) {
    return post("/v1/projects/resolve", core::to_json_compact(body), key);
  }

  const long long alpha_ = added({"teams", "add", "alpha"});
  const long long beta_ = added({"teams", "add", "beta"});
  const long long alice_ = added({"members", "add", "alice", "--team", std::to_string(alpha_)});
  const long long bob_ = added({"members", "add", "bob", "--team", std::to_string(beta_)});
  const std::string alice_key_ = key_of(alice_);
  const std::string bob_key_ = key_of(bob_);
};

TEST_F(Teams, NoKeyReadsOrWritesAnotherTeamsProjectOnAnyRoute) {
  const Json remote = {{"remote", "git@example.com:acme/shared.git"}};
  const Answer alphas = resolve(alice_key_, remote);
  const Answer betas = resolve(bob_key_, remote);
  ASSERT_EQ(alphas.body["created"], true);
  ASSERT_EQ(betas.body["created"], true);  // one repository, a project for each team
  const long long project = alphas.body["projectId"];
  ASSERT_NE(betas.body["projectId"], project);
  ASSERT_EQ(post(attestations(project), core::to_json_compact(Json{{"attestations", {{{"commit", "a1"}}}}}), alice_key_)
                .body["inserted"],
            1);

  const std::string mine = "/v1/projects/" + std::to_string(project);
  const std::string absent = "/v1/projects/999999";
  for (const std::string& stranger : {bob_key_, key()}) {  // the other team's member, the default team's key
    for (const auto& [route, body] : kProjectRoutes) {
      const Answer refused = call(stranger, mine + route, body);
      const Answer missing = call(stranger, absent + route, body);
      EXPECT_EQ(refused.status, 404) << route;
      EXPECT_EQ(error_code(refused), "project_not_found") << route;
      // Word for word what a project that does not exist gets.
      std::string message = core::get_text(missing.body["error"], "message");
      message.replace(message.find("999999"), 6, std::to_string(project));
      EXPECT_EQ(core::get_text(refused.body["error"], "message"), message) << route;
    }
  }
  const Json kept = get(attestations(project), alice_key_).body["attestations"];
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0]["commit"], "a1");
  for (const auto& [route, body] : kProjectRoutes) EXPECT_EQ(call(alice_key_, mine + route, body).status, 200) << route;

  // A revoked key is refused from the next request on.
  admin({"keys", "revoke", alice_key_});
  EXPECT_EQ(error_code(get(attestations(project), alice_key_)), "key_rejected");
}

TEST_F(Teams, AMemberOfSeveralTeamsNamesOne) {
  const long long carol =
      added({"members", "add", "carol", "--team", std::to_string(beta_), "--team", std::to_string(alpha_)});
  const std::string carol_key = key_of(carol);
  const Answer me = get("/v1/me", carol_key);
  EXPECT_EQ(me.body, (Json{{"member", "carol"}, {"member_id", carol}, {"team_ids", {alpha_, beta_}}}));

  const Json remote = {{"remote", "git@example.com:acme/two.git"}};
  const Answer ambiguous = resolve(carol_key, remote);
  EXPECT_EQ(ambiguous.status, 409);
  EXPECT_EQ(error_code(ambiguous), "ambiguous_team");
  EXPECT_EQ(ambiguous.body["error"]["team_ids"], Json({alpha_, beta_}));
  const Answer in_beta = resolve(carol_key, {{"remote", remote["remote"]}, {"team_id", beta_}});
  EXPECT_EQ(in_beta.status, 200);
  EXPECT_EQ(resolve(bob_key_, remote).body["projectId"], in_beta.body["projectId"]);  // bob's team's project
  const Answer outsider = resolve(bob_key_, {{"remote", remote["remote"]}, {"team_id", alpha_}});
  EXPECT_EQ(outsider.status, 403);
  EXPECT_EQ(error_code(outsider), "not_a_member");
  // The keys given to the server are the default team's, whatever team they name.
  const Answer by_given_key = resolve(key(), {{"remote", remote["remote"]}, {"team_id", alpha_}});
  EXPECT_EQ(by_given_key.body["created"], true);
  EXPECT_EQ(get(attestations(by_given_key.body["projectId"]), carol_key).status, 404);
}

TEST_F(Teams, MembersKeysAloneLetTheServerStartAndAreNeverStoredInClear) {
  PlatformProcess keyless(PlatformOptions{.api_keys = {}, .db = platform_.db()});
  httplib::Client client("127.0.0.1", keyless.port());
  const auto me = client.Get("/v1/me", {{"Authorization", "Bearer " + bob_key_}});
  ASSERT_TRUE(me);
  EXPECT_EQ(core::parse_json_or_throw(me->body)["member"], "bob");
  if (!platform_.db().starts_with("postgres")) {
    const std::string stored = read_text(platform_.db()) + read_text(platform_.db() + "-wal");
    EXPECT_NE(stored.find(core::sha256_hex(bob_key_)), std::string::npos);
    EXPECT_EQ(stored.find(bob_key_), std::string::npos);
  }
  const CommandResult unknown =
      run_command({platform_binary(), "members", "add", "dave", "--team", "4242", "--db", platform_.db()});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_NE(unknown.out.find("there is no team 4242"), std::string::npos) << unknown.out;
}

}  // namespace
}  // namespace tamrik::testing
