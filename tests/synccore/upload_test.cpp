// Attestation upload against a real tamrik-platform and against fault
// servers on 127.0.0.1: batching, marking batch by batch, archives attached,
// and what each kind of failure leaves in the ledger.

#include "synccore/upload.hpp"

#include "core/json.hpp"
#include "core/log.hpp"
#include "host/fault_server.hpp"
#include "host/paths.hpp"
#include "host/protocol/http_client.hpp"
#include "host/services/setup_list.hpp"
#include "host/services/shared.hpp"
#include "platform/platform_process.hpp"
#include "support/debug_lines.hpp"
#include "support/test_env.hpp"
#include "synccore/ledger.hpp"
#include "synccore/ledger_text.hpp"
#include "synccore/ledger_test_util.hpp"
#include "synccore/test_adapter.hpp"
#include "synccore/too_large.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>

namespace tamrik::synccore {
namespace {

namespace fs = std::filesystem;
using testing::answer_with;
using testing::fake_sha;
using testing::FaultConnection;
using testing::FaultServer;
using testing::ledger_entry;
using testing::TempDir;
using testing::write_text;

constexpr const char* kUploadKey = "sk-upload-SECRET-0123456789abcdef";

// A repository set up for tamrik (a local configuration naming a project),
// with a ledger the tests fill.
class Workspace {
 public:
  Workspace() {
    services::shared::save_local_config(root(), {{"project_id", 1}});
    services::setup_list::add(root());
  }

  const fs::path& root() const { return dir_.path(); }
  fs::path log() const { return paths::log_jsonl(root()); }
  fs::path archive() const { return paths::attestations_dir(root()); }

  // Appends `count` pending records for fake_sha(first) onwards.
  std::vector<std::string> add_pending(int count, int first = 0) const {
    std::vector<std::string> commits;
    std::string text;
    for (int i = first; i < first + count; ++i) {
      commits.push_back(fake_sha(i));
      text += core::to_json_line(ledger_entry(commits.back())) + "\n";
    }
    _append_log_text(log(), text);
    return commits;
  }
  void add_line(const Json& entry) const { _append_log_entry(log(), entry); }

  int synced() const { return read_attestation_log(log()).uploaded; }
  size_t pending() const { return read_attestation_log(log()).pending.size(); }

  UploadResult upload(const std::string& url, const Json& project = 1, std::string_view key = kUploadKey) const {
    return upload_attestations(key, url, root(), archive(), project);
  }

 private:
  TempDir dir_;
};

void expect_no_key(const UploadResult& result) {
  EXPECT_EQ(result.error.value_or("").find(kUploadKey), std::string::npos) << *result.error;
}

// An upload endpoint that notes, for each request, the records it carried,
// how many ledger records were already synced when it arrived, and its
// session header. Request number `fail_at` (from 1) answers 500.
class ObservingPlatform {
 public:
  struct Arrival {
    size_t records = 0;
    int synced_before = 0;
    std::string session;
  };

  explicit ObservingPlatform(fs::path log, size_t fail_at = 0) : log_(std::move(log)), fail_at_(fail_at) {}

  std::string url() const { return server_.url(); }
  std::vector<Arrival> arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }

 private:
  void serve(FaultConnection& connection) {
    const testing::ReceivedRequest request = connection.read_request();
    const std::optional<Json> body = core::parse_json(request.body);
    const size_t records = body && body->contains("attestations") ? (*body)["attestations"].size() : 0;
    std::lock_guard lock(mutex_);
    arrivals_.push_back({records, read_attestation_log(log_).uploaded, request.header("X-Agent-Session-Id")});
    if (arrivals_.size() == fail_at_) {
      connection.respond(500, R"({"error": {"code": "internal", "message": "database is down"}})");
    } else {
      connection.respond(200, R"({"inserted": )" + std::to_string(records) + "}");
    }
  }

  fs::path log_;
  size_t fail_at_;
  mutable std::mutex mutex_;
  std::vector<Arrival> arrivals_;
  FaultServer server_{[this](FaultConnection& connection) { serve(connection); }};  // last: serves at once
};

std::vector<size_t> batch_sizes(const std::vector<ObservingPlatform::Arrival>& arrivals) {
  std::vector<size_t> sizes;
  for (const auto& arrival : arrivals) sizes.push_back(arrival.records);
  return sizes;
}

// Log lines of one level while alive.
class CapturedLog {
 public:
  explicit CapturedLog(core::LogLevel level) {
    previous_ = core::set_log_sink([this, level](core::LogLevel at, std::string_view, std::string_view message) {
      if (at == level) lines.emplace_back(message);
    });
  }
  ~CapturedLog() { core::set_log_sink(previous_); }
  std::vector<std::string> lines;

 private:
  core::LogSink previous_;
};

// ---------------------------------------------------------------------------
// Against tamrik-platform

class UploadToPlatform : public ::testing::Test {
 protected:
  UploadToPlatform() : platform_(testing::PlatformOptions{.api_keys = {kUploadKey}}) {
    project_ = protocol::http_client::resolve_project(kUploadKey, platform_.url(), "git@example.com:acme/upload.git",
                                                      std::nullopt)["projectId"];
  }

  // What the platform holds for the project, by commit.
  std::map<std::string, Json> stored() const {
    httplib::Client client("127.0.0.1", platform_.port());
    const auto answer = client.Get("/v1/projects/" + project_.dump() + "/attestations?limit=1000",
                                   {{"Authorization", std::string("Bearer ") + kUploadKey}});
    if (!answer || answer->status != 200) throw std::runtime_error("read-back failed");
    const Json listed = core::parse_json_or_throw(answer->body);
    std::map<std::string, Json> by_commit;
    for (const Json& record : listed["attestations"]) {
      by_commit[record["commit"].get<std::string>()] = record;
    }
    return by_commit;
  }

  testing::PlatformProcess platform_;
  Json project_;
};

TEST_F(UploadToPlatform, EveryPendingRecordArrivesOnceAndIsMarkedSynced) {
  Workspace ws;
  ws.add_pending(250);
  const UploadResult result = ws.upload(platform_.url(), project_);
  EXPECT_TRUE(result.ok) << result.error.value_or("");
  EXPECT_EQ(result.uploaded, 250);
  EXPECT_FALSE(result.already_synced);
  EXPECT_EQ(ws.synced(), 250);
  EXPECT_EQ(ws.pending(), 0u);
  EXPECT_EQ(stored().size(), 250u);

  const UploadResult again = ws.upload(platform_.url(), project_);
  EXPECT_TRUE(again.ok);
  EXPECT_TRUE(again.already_synced);
  EXPECT_EQ(again.uploaded, 0);
}

// The first records of a repository can sit in spools before any ledger
// exists (the lock was busy): they are uploaded and merged all the same.
TEST_F(UploadToPlatform, SpooledRecordsWithoutALedgerAreUploaded) {
  Workspace ws;
  fs::create_directories(ws.log().parent_path());
  write_text(detail::new_spool_name(ws.log()), core::to_json_line(ledger_entry(fake_sha(1))) + "\n");
  const UploadResult result = ws.upload(platform_.url(), project_);
  EXPECT_EQ(result.uploaded, 1) << result.error.value_or("");
  EXPECT_EQ(ws.synced(), 1);
  EXPECT_TRUE(detail::spool_files(ws.log()).empty());
}

TEST_F(UploadToPlatform, ArchivesRideAlongAndCorruptOnesHoldTheirRecordBack) {
  Workspace ws;
  const std::vector<std::string> c = ws.add_pending(6);
  ws.add_line(ledger_entry("not-a-commit-hash"));  // unaddressable: counted, never sent
  const fs::path dir = ws.archive();
  write_text(dir / (c[0] + ".yaml"), "summary: Add the login form\nrules:\n  checked: [small-commits]\n");
  write_text(dir / (c[0] + ".ledger.jsonl"), "{\"step\": 1}\n   \n{\"step\": 2}\n");
  // c[1]: no archive at all.
  write_text(dir / (c[2] + ".yaml"), "summary: [unclosed\n");
  // Several documents (the first counts), an alias and a date tag all load.
  write_text(dir / (c[3] + ".yaml"),
             "---\nsummary: one\nbase: &b {x: 1}\nother: *b\nat: !!timestamp 2026-01-01\n---\n");
  write_text(dir / (c[4] + ".ledger.jsonl"), "{\"step\": 1}\nnot json\n");
  write_text(dir / (c[5] + ".yaml"), "");

  CapturedLog warnings(core::LogLevel::warning);
  const UploadResult result = ws.upload(platform_.url(), project_);
  EXPECT_TRUE(result.ok) << result.error.value_or("");
  EXPECT_EQ(result.uploaded, 5);
  EXPECT_EQ(result.skipped_invalid, 2);
  ASSERT_EQ(warnings.lines.size(), 1u);
  EXPECT_TRUE(warnings.lines[0].starts_with("Corrupt attestation file " + (dir / (c[2] + ".yaml")).string() + ": "))
      << warnings.lines[0];

  const std::map<std::string, Json> held = stored();
  ASSERT_EQ(held.size(), 5u);
  EXPECT_EQ(held.at(c[0])["attestation"],
            Json({{"summary", "Add the login form"}, {"rules", {{"checked", {"small-commits"}}}}}));
  EXPECT_EQ(held.at(c[0])["ledger"], Json::array({{{"step", 1}}, {{"step", 2}}}));
  EXPECT_FALSE(held.at(c[1]).contains("attestation"));
  EXPECT_FALSE(held.at(c[1]).contains("ledger"));
  EXPECT_FALSE(held.at(c[4]).contains("ledger"));
  EXPECT_EQ(held.at(c[3])["attestation"],
            Json({{"summary", "one"}, {"base", {{"x", 1}}}, {"other", {{"x", 1}}}, {"at", "2026-01-01"}}));
  EXPECT_EQ(held.at(c[5])["attestation"], Json::object());

  // The corrupt one stays pending, and is counted again on every run.
  const AttestationLog after = read_attestation_log(ws.log());
  ASSERT_EQ(after.pending.size(), 1u);
  EXPECT_EQ(after.pending[0]["commit"], c[2]);
  const UploadResult again = ws.upload(platform_.url(), project_);
  EXPECT_TRUE(again.already_synced);
  EXPECT_EQ(again.skipped_invalid, 2);
}

// ---------------------------------------------------------------------------
// Batches and marking, observed from the server side

TEST(UploadBatches, EachBatchIsMarkedSyncedBeforeTheNextRequest) {
  Workspace ws;
  ws.add_pending(250);
  ObservingPlatform platform(ws.log());
  const UploadResult result = ws.upload(platform.url());
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.uploaded, 250);
  const auto arrivals = platform.arrivals();
  EXPECT_EQ(batch_sizes(arrivals), (std::vector<size_t>{100, 100, 50}));
  ASSERT_EQ(arrivals.size(), 3u);
  EXPECT_EQ(arrivals[0].synced_before, 0);
  EXPECT_EQ(arrivals[1].synced_before, 100);
  EXPECT_EQ(arrivals[2].synced_before, 200);
  EXPECT_EQ(ws.synced(), 250);
}

// A backlog of several windows of the records read at a time: the failure
// comes in a middle one, and reading stops there.
TEST(UploadBatches, AFailedBatchKeepsItAndTheRestPendingForTheNextRun) {
  Workspace ws;
  const std::vector<std::string> commits = ws.add_pending(2'050);
  ObservingPlatform failing(ws.log(), 11);
  const UploadResult result = ws.upload(failing.url());
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.uploaded, 1'000);
  ASSERT_TRUE(result.error.has_value());
  EXPECT_FALSE(result.error->empty());
  expect_no_key(result);
  EXPECT_EQ(batch_sizes(failing.arrivals()), std::vector<size_t>(11, 100));  // the last window never went

  const AttestationLog after = read_attestation_log(ws.log());
  EXPECT_EQ(after.uploaded, 1'000);
  ASSERT_EQ(after.pending.size(), 1'050u);
  EXPECT_EQ(after.pending.front()["commit"], commits[1'000]);

  ObservingPlatform healthy(ws.log());
  const UploadResult next = ws.upload(healthy.url());
  EXPECT_TRUE(next.ok);
  EXPECT_EQ(next.uploaded, 1'050);
  std::vector<size_t> sizes(10, 100);
  sizes.push_back(50);
  EXPECT_EQ(batch_sizes(healthy.arrivals()), sizes);
  EXPECT_EQ(ws.synced(), 2'050);
}

TEST(UploadBatches, NoUsableAnswerMarksNothing) {
  struct Case {
    const char* what;
    FaultServer::Handler handler;
    const char* error_holds;
  };
  const std::vector<Case> cases = {
      {"connection reset",
       [](FaultConnection& connection) {
         connection.read_request();
         connection.reset();
       },
       ""},
      {"answer not JSON", answer_with(200, "<html>captive portal</html>"), ""},
      {"answer echoes the key",
       answer_with(
           401, std::string(R"({"error": {"code": "key_rejected", "message": ")") + kUploadKey + R"( is unknown"}})"),
       "is unknown"},
  };
  for (const Case& c : cases) {
    Workspace ws;
    ws.add_pending(3);
    FaultServer server(c.handler);
    const UploadResult result = ws.upload(server.url());
    EXPECT_FALSE(result.ok) << c.what;
    EXPECT_EQ(result.uploaded, 0) << c.what;
    ASSERT_TRUE(result.error.has_value()) << c.what;
    EXPECT_NE(result.error->find(c.error_holds), std::string::npos) << c.what << ": " << *result.error;
    expect_no_key(result);
    EXPECT_EQ(ws.synced(), 0) << c.what;
    EXPECT_EQ(ws.pending(), 3u) << c.what;
  }
}

// Answers 413 with `refusal` to a body over `limit` bytes, as a platform or
// a proxy in front of it does, and takes smaller ones.
FaultServer::Handler refusing_over(size_t limit, std::string refusal) {
  return [limit, refusal](FaultConnection& connection) {
    const testing::ReceivedRequest request = connection.read_request();
    if (request.body.size() > limit) {
      connection.respond(413, refusal);
    } else {
      const size_t records = core::parse_json_or_throw(request.body)["attestations"].size();
      connection.respond(200, R"({"inserted": )" + std::to_string(records) + "}");
    }
  };
}

std::vector<std::vector<std::string>> commits_sent(const FaultServer& server) {
  std::vector<std::vector<std::string>> sent;
  for (const testing::ReceivedRequest& request : server.requests()) {
    auto& commits = sent.emplace_back();
    const Json body = core::parse_json_or_throw(request.body);
    for (const Json& record : body["attestations"]) {
      commits.push_back(record["commit"].get<std::string>());
    }
  }
  return sent;
}

TEST(UploadBatches, ARecordRefusedForItsSizeIsSetAsideUntilItChangesAndTheRestGoOn) {
  for (const std::string refusal : {R"({"error": {"code": "too_large", "message": "Body over the limit"}})",
                                    "<html>413 Request Entity Too Large</html>"}) {
    Workspace ws;
    const std::vector<std::string> c = ws.add_pending(6);
    const fs::path big = ws.archive() / (c[3] + ".yaml");
    write_text(big, "summary: " + std::string(3000, 'x') + "\n");
    const auto line_of = [&ws](const std::string& commit) {
      const std::string text = testing::read_text(ws.log());
      const size_t at = text.find(R"({"commit": ")" + commit);
      return text.substr(at, text.find('\n', at) - at);
    };
    const std::string big_line = line_of(c[3]);
    FaultServer proxy(refusing_over(2000, refusal));

    const UploadResult first = ws.upload(proxy.url());
    EXPECT_TRUE(first.ok) << first.error.value_or("");
    EXPECT_EQ(first.uploaded, 5);
    EXPECT_EQ(first.set_aside, 1);
    // A refused batch is halved until the large record goes alone.
    EXPECT_EQ(commits_sent(proxy),
              (std::vector<std::vector<std::string>>{c, {c[0], c[1], c[2]}, {c[3], c[4], c[5]}, {c[3]}, {c[4], c[5]}}))
        << refusal;
    const AttestationLog after = read_attestation_log(ws.log());
    ASSERT_EQ(after.pending.size(), 1u);
    EXPECT_EQ(after.pending[0]["commit"], c[3]);
    EXPECT_EQ(line_of(c[3]), big_line);  // the ledger line stays as it was
    const std::vector<TooLargeRecord> held = read_too_large_records(ws.root());
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].commit, c[3]);

    const UploadResult again = ws.upload(proxy.url());
    EXPECT_TRUE(again.ok);
    EXPECT_TRUE(again.already_synced);
    EXPECT_EQ(again.set_aside, 1);
    EXPECT_EQ(proxy.requests().size(), 5u);  // not sent again

    write_text(big, "summary: Shortened\n");
    const UploadResult shrunk = ws.upload(proxy.url());
    EXPECT_EQ(shrunk.uploaded, 1);
    EXPECT_EQ(shrunk.set_aside, 0);
    EXPECT_EQ(ws.pending(), 0u);
    EXPECT_TRUE(read_too_large_records(ws.root()).empty());
    EXPECT_FALSE(fs::exists(paths::too_large_records(ws.root())));
  }
}

TEST(UploadBatches, AStalledServerEndsWithTheNetworkBudget) {
  Workspace ws;
  ws.add_pending(3);
  FaultServer server([](FaultConnection& connection) {
    connection.read_request();
    connection.stall();
  });
  const auto started = std::chrono::steady_clock::now();
  UploadResult result;
  {
    const auto budget = protocol::http_client::network_budget(0.5);
    result = ws.upload(server.url());
  }
  // The budget, not the client's minute-long transfer limit, ended it.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_FALSE(result.ok);
  expect_no_key(result);
  EXPECT_EQ(ws.pending(), 3u);
}

// A harness adapter whose session lookup fails.
class BrokenSessionAdapter : public testing::FixtureAdapter {
 public:
  using FixtureAdapter::FixtureAdapter;
  std::optional<std::string> get_session_id(const fs::path&) const override {
    throw std::runtime_error("session store unreadable");
  }
};

TEST(UploadBatches, TheSessionHeaderComesFromTheActiveAgentElseTheEnvironment) {
  const auto session_sent = [](const std::function<void()>& arrange) {
    Workspace ws;
    ws.add_pending(1);
    arrange();
    ObservingPlatform platform(ws.log());
    EXPECT_TRUE(ws.upload(platform.url()).ok);
    unsetenv("AGENT_SESSION_ID");
    return platform.arrivals().at(0).session;
  };
  testing::FixtureRegistry registry;
  EXPECT_EQ(session_sent([] {}), "");
  EXPECT_EQ(session_sent([] { setenv("AGENT_SESSION_ID", "env-session", 1); }), "env-session");
  registry.alpha->active = true;
  registry.alpha->current_session = "agent-session";
  EXPECT_EQ(session_sent([] { setenv("AGENT_SESSION_ID", "env-session", 1); }), "agent-session");
  registry.alpha->current_session.reset();  // an agent that knows no session: the environment's
  EXPECT_EQ(session_sent([] { setenv("AGENT_SESSION_ID", "env-session", 1); }), "env-session");

  std::vector<std::unique_ptr<agents::Adapter>> broken;
  auto adapter = std::make_unique<BrokenSessionAdapter>("broken", registry.dir / "broken");
  adapter->active = true;
  broken.push_back(std::move(adapter));
  agents::ScopedRegistry scope(std::move(broken));
  CapturedLog debug(core::LogLevel::debug);
  {
    const testing::DebugLines debug_on;
    EXPECT_EQ(session_sent([] { setenv("AGENT_SESSION_ID", "env-session", 1); }), "env-session");
  }
  EXPECT_TRUE(std::any_of(debug.lines.begin(), debug.lines.end(), [](const std::string& line) {
    return line.starts_with("Agent detection for session header failed: RuntimeError: session store unreadable");
  }));
}

// ---------------------------------------------------------------------------
// Refusals before any request

TEST(UploadPreconditions, NothingIsSentWithoutSetupProjectKeyOrPendingRecords) {
  FaultServer server(answer_with(200, R"({"inserted": 1})"));
  {
    TempDir bare;  // never set up
    EXPECT_TRUE(upload_attestations(kUploadKey, server.url(), bare.path(), bare / "a", 1).already_synced);
  }
  {
    Workspace ws;
    services::shared::save_local_config(ws.root(), Json::object());
    services::setup_list::add(ws.root());  // as `tamrik setup` lists it
    ws.add_pending(1);
    EXPECT_TRUE(ws.upload(server.url()).already_synced);
  }
  {
    Workspace ws;
    ws.add_pending(1);
    for (const Json& none : {Json(nullptr), Json(""), Json(0)}) {
      const UploadResult result = ws.upload(server.url(), none);
      EXPECT_FALSE(result.ok);
      EXPECT_EQ(result.error, "no project id to address the upload to");
    }
    const UploadResult no_key = ws.upload(server.url(), 1, "");
    EXPECT_FALSE(no_key.ok);
    EXPECT_EQ(no_key.error, "No API key configured");
  }
  {
    Workspace ws;  // no ledger yet
    const UploadResult result = ws.upload(server.url(), 1, "");
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.already_synced);
  }
  {
    Workspace ws;
    ws.add_line(ledger_entry(fake_sha(1), true));
    ws.add_line(ledger_entry("abc"));
    ws.add_line(ledger_entry(""));
    const UploadResult result = ws.upload(server.url());
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.already_synced);
    EXPECT_EQ(result.skipped_invalid, 2);
  }
  EXPECT_EQ(server.connections(), 0);
}

// ---------------------------------------------------------------------------
// Splitting into batches

// A record whose serialised size is exactly `bytes`.
Json record_of_size(size_t bytes, int n = 0) {
  Json record = {{"commit", fake_sha(n)}, {"pad", ""}};
  const size_t base = core::to_json_compact(record).size();
  record["pad"] = std::string(bytes - base, 'x');
  return record;
}

std::vector<std::vector<std::string>> commits_of(const std::vector<Json>& batches) {
  std::vector<std::vector<std::string>> out;
  for (const Json& batch : batches) {
    auto& commits = out.emplace_back();
    for (const Json& record : batch) commits.push_back(record["commit"].get<std::string>());
  }
  return out;
}

TEST(ChunkAttestations, CountBudgetKeepsOrder) {
  std::vector<Json> entries;
  for (int i = 0; i < 250; ++i) entries.push_back(ledger_entry(fake_sha(i)));
  const std::vector<Json> batches = _chunk_attestations(entries);
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0].size(), 100u);
  EXPECT_EQ(batches[1].size(), 100u);
  EXPECT_EQ(batches[2].size(), 50u);
  EXPECT_EQ(batches[1][0]["commit"], fake_sha(100));
  EXPECT_EQ(batches[2][49]["commit"], fake_sha(249));
  EXPECT_TRUE(_chunk_attestations({}).empty());
}

TEST(ChunkAttestations, TheByteBudgetMayBeReachedButNotExceeded) {
  const size_t half = ATTESTATION_BATCH_BYTES / 2;
  const std::vector<Json> exact = _chunk_attestations({record_of_size(half, 1), record_of_size(half, 2)});
  EXPECT_EQ(commits_of(exact), (std::vector<std::vector<std::string>>{{fake_sha(1), fake_sha(2)}}));

  const std::vector<Json> over = _chunk_attestations({record_of_size(half, 1), record_of_size(half + 1, 2)});
  EXPECT_EQ(commits_of(over), (std::vector<std::vector<std::string>>{{fake_sha(1)}, {fake_sha(2)}}));
}

TEST(ChunkAttestations, ARecordOverTheByteBudgetGoesAloneBetweenItsNeighbours) {
  const std::vector<Json> batches =
      _chunk_attestations({record_of_size(200, 1), record_of_size(200, 2),
                           record_of_size(ATTESTATION_BATCH_BYTES + 1, 3), record_of_size(200, 4)});
  EXPECT_EQ(commits_of(batches),
            (std::vector<std::vector<std::string>>{{fake_sha(1), fake_sha(2)}, {fake_sha(3)}, {fake_sha(4)}}));
  EXPECT_EQ(commits_of(_chunk_attestations({record_of_size(500, 1), record_of_size(400, 2)}, 10, 300)),
            (std::vector<std::vector<std::string>>{{fake_sha(1)}, {fake_sha(2)}}));
}

}  // namespace
}  // namespace tamrik::synccore
