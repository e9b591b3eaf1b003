// The agent registry: order, names, detection by environment markers.

#include "host/agents/registry.hpp"

#include "host/agent_fixtures.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tamrik::agents {
namespace {

using testing::TempDir;
using testing::agent_fixtures::ScopedEnv;

std::vector<std::string> names(const std::vector<const Adapter*>& adapters) {
  std::vector<std::string> out;
  for (const Adapter* adapter : adapters) out.push_back(adapter->name());
  return out;
}

std::string detected() {
  const Adapter* adapter = detect_active_agent();
  return adapter == nullptr ? "" : adapter->name();
}

TEST(Registry, ListsTheHarnessesInItsFixedOrder) {
  EXPECT_EQ(names(iter_adapters()),
            (std::vector<std::string>{"claude-code", "codex", "gemini-cli", "cursor", "windsurf"}));
  EXPECT_EQ(get_adapter_by_name("claude-code")->provider(), "anthropic");
  EXPECT_EQ(get_adapter_by_name("codex")->provider(), "openai");
  EXPECT_EQ(get_adapter_by_name("gemini-cli")->provider(), "google");
}

TEST(Registry, NormalizesTheUsualSpellings) {
  for (const char* spelling : {"Claude Code", "claude", "claude_code", "  CLAUDE-CODE\n", "claudecode"}) {
    EXPECT_EQ(normalize_agent_name(spelling), "claude-code") << spelling;
  }
  for (const char* spelling : {"codex", "codex-cli", "Codex CLI", "openai codex"}) {
    EXPECT_EQ(normalize_agent_name(spelling), "codex") << spelling;
  }
  for (const char* spelling : {"gemini", "Gemini CLI", "gemini_cli"}) {
    EXPECT_EQ(normalize_agent_name(spelling), "gemini-cli") << spelling;
  }
  EXPECT_EQ(normalize_agent_name("cursor-agent"), "cursor");
  EXPECT_EQ(normalize_agent_name("Cursor"), "cursor");
  EXPECT_EQ(normalize_agent_name("Windsurf Cascade"), "windsurf");
  // Unknown names stay as given, trimmed and lower-cased (not re-joined).
  EXPECT_EQ(normalize_agent_name("  Aider Chat "), "aider chat");
  EXPECT_EQ(normalize_agent_name(""), "");
}

TEST(Registry, FindsAdaptersByAnySpellingAndNothingForUnknownNames) {
  EXPECT_EQ(get_adapter_by_name("Claude Code"), get_adapter_by_name("claude-code"));
  EXPECT_EQ(get_adapter_by_name("codex-cli")->name(), "codex");
  EXPECT_EQ(get_adapter_by_name("aider"), nullptr);
  EXPECT_EQ(get_adapter_by_name(""), nullptr);
}

TEST(Detection, NoMarkersNoAgent) { EXPECT_EQ(detect_active_agent(), nullptr); }

TEST(Detection, EachHarnessByItsStrongMarkers) {
  const std::vector<std::pair<const char*, std::pair<std::string, std::string>>> cases = {
      {"claude-code", {"CLAUDE_CODE_CHILD_SESSION", "1"}},
      {"claude-code", {"CLAUDE_CODE_SESSION_ID", "3f0c2a9e-1b7d-4c55-9e0a-5d1f7c2b8a41"}},
      {"codex", {"CODEX_THREAD_ID", "0199a213-81c0-7800-8aa1-bbab2a035a53"}},
      {"codex", {"CODEX_SANDBOX", "seatbelt"}},
      {"codex", {"CODEX_SANDBOX_NETWORK_DISABLED", "1"}},
      {"gemini-cli", {"GEMINI_CLI", "1"}},
      {"gemini-cli", {"GEMINI_SESSION_ID", "8c2d4e6f"}},
      {"cursor", {"CURSOR_AGENT", "1"}},
      {"cursor", {"CURSOR_EXTENSION_HOST_ROLE", "agent-exec"}},
  };
  for (const auto& [expected, marker] : cases) {
    ScopedEnv env{{marker.first.c_str(), marker.second}};
    EXPECT_EQ(detected(), expected) << marker.first;
  }
}

std::string hinted() {
  const Adapter* adapter = weak_agent_hint();
  return adapter == nullptr ? "" : adapter->name();
}

// Editors' terminals carry the weak markers where a person types: they
// attribute nothing and only hint when no harness shows a strong marker.
TEST(Detection, WeakMarkersOnlyHint) {
  {
    ScopedEnv env{{"CLAUDECODE", "1"}};
    EXPECT_EQ(detected(), "");
    EXPECT_EQ(hinted(), "claude-code");
  }
  {
    ScopedEnv env{{"CURSOR_TRACE_ID", "abc"}};
    EXPECT_EQ(detected(), "");
    EXPECT_EQ(hinted(), "cursor");
  }
  {
    // Claude Code launched from Cursor's terminal: the strong marker decides.
    ScopedEnv env{{"CLAUDECODE", "1"}, {"CURSOR_TRACE_ID", "abc"}, {"CLAUDE_CODE_SESSION_ID", "s-1"}};
    EXPECT_EQ(detected(), "claude-code");
    EXPECT_EQ(hinted(), "");
  }
  {
    // Only the agent role marks Cursor's in-editor agent; other roles do not.
    ScopedEnv env{{"CURSOR_EXTENSION_HOST_ROLE", "user"}};
    EXPECT_EQ(detected(), "");
    EXPECT_EQ(hinted(), "");
  }
  {
    ScopedEnv env{{"CLAUDE_CODE_SESSION_ID", "  "}};  // blank is unset
    EXPECT_EQ(detected(), "");
  }
}

TEST(SessionIds, ComeOnlyFromTheHarnessVariable) {
  TempDir repo;
  const Adapter& claude = *get_adapter_by_name("claude-code");
  const Adapter& codex = *get_adapter_by_name("codex");
  // A transcript on disk is no evidence of the current session: parallel
  // sessions make "the newest transcript" wrong.
  testing::write_text(testing::test_home() / ".claude" / "projects" / "-x" / "a1b2.jsonl", "{}\n");
  EXPECT_EQ(claude.get_session_id(repo.path()), std::nullopt);
  EXPECT_EQ(codex.get_session_id(repo.path()), std::nullopt);

  ScopedEnv env{{"CLAUDE_CODE_SESSION_ID", "3f0c2a9e"}, {"CODEX_THREAD_ID", " t-42\n"}, {"GEMINI_SESSION_ID", "g-7"}};
  EXPECT_EQ(claude.get_session_id(repo.path()), "3f0c2a9e");
  EXPECT_EQ(codex.get_session_id(repo.path()), "t-42");
  EXPECT_EQ(get_adapter_by_name("gemini-cli")->get_session_id(repo.path()), "g-7");
  EXPECT_EQ(get_adapter_by_name("cursor")->get_session_id(repo.path()), std::nullopt);
}

TEST(Telemetry, DictHoldsOnlyWhatIsKnown) {
  SessionTelemetry empty;
  empty.session_id = "s1";
  EXPECT_EQ(empty.to_dict().dump(), R"({"session_id":"s1","turns":0})");

  SessionTelemetry full;
  full.session_id = "s2";
  full.model = "claude-opus-4-6";
  full.tokens = {.input = 1, .output = 2, .cache_creation = 3, .cache_read = 4};
  full.turns = 5;
  full.started_at = "2026-07-25T10:00:00Z";
  full.ended_at = "2026-07-25T11:00:00Z";
  EXPECT_EQ(full.to_dict().dump(),
            R"({"session_id":"s2","model":"claude-opus-4-6","tokens":{"input":1,"output":2,"cache_creation":3,)"
            R"("cache_read":4},"turns":5,"started_at":"2026-07-25T10:00:00Z","ended_at":"2026-07-25T11:00:00Z"})");
}

// A stand-in harness, as the recording tests register one.
class FakeAdapter : public Adapter {
 public:
  FakeAdapter(std::string name, bool strong, bool weak, bool throws = false)
      : name_(std::move(name)), strong_(strong), weak_(weak), throws_(throws) {}
  std::string name() const override { return name_; }
  std::string provider() const override { return "test"; }
  bool detect(bool strong_only) const override {
    if (throws_) throw std::runtime_error("broken");
    return strong_ || (!strong_only && weak_);
  }
  std::optional<std::string> get_session_id(const path&) const override { return std::nullopt; }
  std::optional<SessionTelemetry> get_telemetry_for_session(const path&, std::string_view) const override {
    return std::nullopt;
  }
  std::optional<SessionHits> sessions_mentioning(const path&, const std::vector<std::string>&, std::optional<double>,
                                                 const std::map<std::string, double>&) const override {
    return std::nullopt;
  }

 private:
  std::string name_;
  bool strong_, weak_, throws_;
};

TEST(ScopedRegistry, ReplacesTheAdaptersForItsLifetime) {
  {
    std::vector<std::unique_ptr<Adapter>> adapters;
    adapters.push_back(std::make_unique<FakeAdapter>("broken", true, true, true));
    adapters.push_back(std::make_unique<FakeAdapter>("weak-one", false, true));
    adapters.push_back(std::make_unique<FakeAdapter>("strong-one", true, false));
    ScopedRegistry scoped(std::move(adapters));
    EXPECT_EQ(names(iter_adapters()), (std::vector<std::string>{"broken", "weak-one", "strong-one"}));
    EXPECT_EQ(get_adapter_by_name("Strong One"), nullptr);  // unknown spellings are not re-joined
    EXPECT_EQ(get_adapter_by_name("strong-one")->name(), "strong-one");
    // A throwing adapter is passed over; strong beats an earlier weak one.
    EXPECT_EQ(detected(), "strong-one");
  }
  EXPECT_EQ(iter_adapters().size(), 5u);
}

}  // namespace
}  // namespace tamrik::agents
