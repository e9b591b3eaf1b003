// Agent transcripts as fuzzed bytes: each adapter reads its harness's store
// (pointed into the scratch directory) for a session's telemetry and for the
// sessions that mention a commit, and never crashes on what it finds there.
//
// Input: one selector byte (its value mod 3: Claude Code, Codex, Gemini CLI),
// then the transcript. The Gemini CLI file starts with a fixed header line,
// since its store finds a session by its first line.

#include "core/errors.hpp"
#include "host/agents/claude_code.hpp"
#include "host/agents/registry.hpp"
#include "scratch.hpp"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace agents = tamrik::agents;
namespace fs = std::filesystem;
using tamrik::fuzz::require;

const fs::path kRepoRoot = "/home/dev/projects/demo";
constexpr const char* kClaudeSession = "7c1d2e3f-4a5b-4c6d-8e9f-0a1b2c3d4e5f";
constexpr const char* kCodexThread = "019a2b3c-4d5e-7f60-8a9b-0c1d2e3f4a5b";
constexpr const char* kGeminiSession = "8e2f4a6c-1b3d-4e5f-9a7b-2c4d6e8f0a1b";
constexpr const char* kGeminiHeader =
    R"({"sessionId":"8e2f4a6c-1b3d-4e5f-9a7b-2c4d6e8f0a1b","projectHash":"4b1c",)"
    R"("startTime":"2026-07-25T10:00:00.000Z","lastUpdated":"2026-07-25T10:00:00.000Z","kind":"main"})"
    "\n";
// The commits the seeds mention, and a time just after the seeds' commands.
const std::vector<std::string> kCommits = {"3f9a1c2b4d5e6f708192a3b4c5d6e7f8091a2b3c",
                                           "a1b2c3d4e5f60718293a4b5c6d7e8f9012345678"};
constexpr double kCommitTime = 1785000600;

struct Store {
  const char* adapter;
  const char* session;
  fs::path file;
  std::string header;
};

std::vector<Store> stores() {
  const fs::path root = tamrik::fuzz::scratch_dir();
  const fs::path claude = root / "claude";
  const fs::path codex = root / "codex";
  const fs::path gemini = root / "gemini";
  ::setenv("CLAUDE_CONFIG_DIR", claude.c_str(), 1);
  ::setenv("CODEX_HOME", codex.c_str(), 1);
  ::setenv("GEMINI_CLI_HOME", gemini.c_str(), 1);
  return {
      {"claude-code", kClaudeSession,
       claude / "projects" / agents::claude_project_key(kRepoRoot.string()) / (std::string(kClaudeSession) + ".jsonl"),
       ""},
      {"codex", kCodexThread,
       codex / "sessions" / "2026" / "07" / "25" /
           ("rollout-2026-07-25T10-00-00-" + std::string(kCodexThread) + ".jsonl"),
       ""},
      {"gemini-cli", kGeminiSession,
       gemini / ".gemini" / "tmp" / "4b1c" / "chats" / "session-2026-07-25T10-00-8e2f4a6c.jsonl", kGeminiHeader},
  };
}

void read_store(const Store& store) {
  const agents::Adapter* adapter = agents::get_adapter_by_name(store.adapter);
  require(adapter != nullptr, "an adapter is missing from the registry");
  const std::map<std::string, double> times = {{kCommits[0], kCommitTime}};
  try {
    if (const auto telemetry = adapter->get_telemetry_for_session(kRepoRoot, store.session)) {
      require(telemetry->session_id == store.session, "telemetry for the wrong session");
      require(telemetry->tokens.input >= 0 && telemetry->tokens.output >= 0 && telemetry->turns >= 0,
              "negative counts in telemetry");
      (void)telemetry->to_dict();
    }
    (void)adapter->sessions_mentioning(kRepoRoot, kCommits, std::nullopt, times);
  } catch (const tamrik::core::OSError&) {
    // An unreadable store is the callers' to report; bad content never is.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<Store> all = stores();
  if (size == 0) return 0;
  const Store& chosen = all[data[0] % all.size()];
  for (const Store& store : all) {
    const std::string_view transcript =
        &store == &chosen ? tamrik::fuzz::as_text(data + 1, size - 1) : std::string_view();
    tamrik::fuzz::write_bytes(store.file, store.header + std::string(transcript));
  }
  read_store(chosen);
  return 0;
}
