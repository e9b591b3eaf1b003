// Gemini CLI records each session as JSON lines:
//   $GEMINI_CLI_HOME (or ~)/.gemini/tmp/<project>/chats/session-<time>-<first 8 of id>.jsonl
//   .../chats/<parent session id>/<subagent session id>.jsonl
// The first line holds the metadata ({sessionId, startTime, ...}); then
// messages ({id, timestamp, type: "user" | "gemini" | ..., model, tokens,
// toolCalls}) and updates ({"$set": {...}}).

#include "host/agents/builtin_adapters.hpp"
#include "host/agents/env_markers.hpp"
#include "host/agents/git_commit_text.hpp"
#include "host/agents/jsonl_reader.hpp"
#include "host/agents/telemetry_builder.hpp"
#include "host/agents/transcript_files.hpp"
#include "host/agents/transcript_json.hpp"
#include "host/agents/transcript_scan.hpp"

#include <algorithm>

namespace tamrik::agents {

namespace {

// GEMINI_CLI is set in its shell tool, GEMINI_SESSION_ID in its hooks.
constexpr EnvMarker kGeminiMarkers[] = {
    {"GEMINI_CLI", "", true},
    {"GEMINI_SESSION_ID", "", true},
    {"GEMINI_CLI_NO_RELAUNCH", "", false},
};

constexpr std::string_view kShellTool = "run_shell_command";
constexpr std::size_t kIdPrefixInName = 8;
// Tool results can be whole files; the commit summary is in the first lines.
constexpr std::size_t kMaxOutputBytes = 1u << 20;
constexpr int kMaxOutputDepth = 8;

std::optional<path> chats_root() {
  // GEMINI_CLI_HOME stands in for the home directory, not for ~/.gemini.
  auto home = env_text("GEMINI_CLI_HOME");
  if (!home) home = env_text("HOME");
  if (!home) return std::nullopt;
  return path(*home) / ".gemini" / "tmp";
}

std::vector<path> chat_dirs() {
  const auto root = chats_root();
  if (!root) return {};
  std::vector<path> dirs;
  for (const path& project : dirs_in(*root)) dirs.push_back(project / "chats");
  return dirs;
}

std::optional<Json> first_line_of(const path& file) {
  std::optional<Json> first;
  std::vector<char> buffer;
  JsonlReader reader(buffer);
  if (!reader.open(file)) return std::nullopt;
  if (auto block = reader.next_block()) first = core::parse_json(block->substr(0, block->find('\n')));
  return first;
}

struct SessionFiles {
  path main;
  std::vector<path> subagents;
};

std::optional<SessionFiles> find_session(std::string_view session_id) {
  if (!is_safe_session_id(session_id) || session_id.size() < kIdPrefixInName) return std::nullopt;
  const std::string suffix = "-" + std::string(session_id.substr(0, kIdPrefixInName)) + ".jsonl";
  for (const path& chats : chat_dirs()) {
    for (const path& file : files_in(chats, "session-", suffix)) {
      const auto first = first_line_of(file);
      if (!first || get_text(*first, "sessionId") != session_id) continue;
      return SessionFiles{file, files_in(chats / std::string(session_id), "", ".jsonl")};
    }
  }
  return std::nullopt;
}

// `input` counts cached prompt tokens too, `output` leaves thinking out.
TokenCounts gemini_usage(const Json& tokens) {
  TokenCounts counts;
  counts.cache_read = count_of(tokens, "cached");
  counts.input = std::max(0LL, count_of(tokens, "input") - counts.cache_read) + count_of(tokens, "tool");
  counts.output = count_of(tokens, "output") + count_of(tokens, "thoughts");
  return counts;
}

void read_telemetry_line(std::string_view raw, bool main_file, TelemetryBuilder& builder) {
  if (!holds(raw, "\"type\":\"gemini\"") && !holds(raw, "\"type\":\"user\"") && !holds(raw, "\"startTime\"") &&
      !holds(raw, "\"lastUpdated\"")) {
    return;
  }
  const auto line = core::parse_json(raw);
  if (!line || !line->is_object()) return;
  builder.saw_time(time_of(*line, "startTime"));
  builder.saw_time(time_of(*line, "lastUpdated"));
  builder.saw_time(time_of(member(*line, "$set"), "lastUpdated"));
  const std::string type = get_text(*line, "type");
  if (type == "user" && main_file) {
    builder.saw_turn(get_text(*line, "id"));
    builder.saw_time(time_of(*line, "timestamp"));
  } else if (type == "gemini") {
    builder.saw_time(time_of(*line, "timestamp"));
    if (main_file) builder.saw_model(get_text(*line, "model"));
    const Json& tokens = member(*line, "tokens");
    if (tokens.is_object()) builder.saw_usage(get_text(*line, "id"), gemini_usage(tokens));
  }
}

// Every text inside a tool result, bounded in depth and size.
void gather_text(const Json& value, int depth, std::string& out) {
  if (depth > kMaxOutputDepth || out.size() > kMaxOutputBytes) return;
  if (value.is_string()) {
    out += value.get_ref<const std::string&>();
    out += '\n';
  } else if (value.is_structured()) {
    for (const Json& item : value) gather_text(item, depth + 1, out);
  }
}

CallOutcome shell_outcome(const Json& call, std::string_view output) {
  const std::string status = get_text(call, "status");
  if (status == "error" || status == "cancelled") return CallOutcome::failed;
  if (status != "success") return CallOutcome::unknown;
  // The shell tool reports success for any command it ran; the exit code is in its text.
  const auto code = exit_code_after(output, "Exit Code: ");
  return code && *code != 0 ? CallOutcome::failed : CallOutcome::succeeded;
}

class GeminiDialect final : public TranscriptDialect {
 public:
  std::string_view call_marker() const override { return kShellTool; }

  void read_line(const Json& line, SessionEvidence& session) const override {
    if (get_text(line, "type") != "gemini") return;
    const Json& calls = member(line, "toolCalls");
    if (!calls.is_array()) return;
    const double message_time = time_of(line, "timestamp").value_or(0);
    for (const Json& call : calls) {
      if (get_text(call, "name") != kShellTool) continue;
      if (!runs_git_commit(get_text(member(call, "args"), "command"))) continue;
      CommitCall commit{.id = get_text(call, "id"), .started = time_of(call, "timestamp").value_or(message_time)};
      std::string output;
      gather_text(member(call, "result"), 0, output);
      gather_text(member(call, "resultDisplay"), 0, output);
      // The call and its result are one record, written when the call ends.
      const std::string status = get_text(call, "status");
      if (!status.empty()) answer_call(commit, message_time, shell_outcome(call, output), output);
      session.add_call(std::move(commit));
    }
  }

  std::string session_of_first_line(const Json& line) const override { return get_text(line, "sessionId"); }
};

class GeminiCliAdapter final : public Adapter {
 public:
  std::string name() const override { return "gemini-cli"; }
  std::string provider() const override { return "google"; }

  bool detect(bool strong_only) const override { return has_marker(kGeminiMarkers, strong_only); }

  std::optional<std::string> get_session_id(const path& /*repo_root*/) const override {
    return env_text("GEMINI_SESSION_ID");
  }

  std::optional<SessionTelemetry> get_telemetry_for_session(const path& /*repo_root*/,
                                                            std::string_view session_id) const override {
    const auto files = find_session(session_id);
    if (!files) return std::nullopt;
    TelemetryBuilder builder{std::string(session_id)};
    std::vector<char> buffer;
    for_each_jsonl_line(files->main, buffer, [&](std::string_view line) { read_telemetry_line(line, true, builder); });
    for (const path& file : files->subagents) {
      for_each_jsonl_line(file, buffer, [&](std::string_view line) { read_telemetry_line(line, false, builder); });
    }
    return builder.build();
  }

  std::optional<SessionHits> sessions_mentioning(const path& repo_root, const std::vector<std::string>& shas,
                                                 std::optional<double> since,
                                                 const std::map<std::string, double>& commit_times) const override {
    const auto root = chats_root();
    std::error_code ec;
    if (!root || !std::filesystem::is_directory(*root, ec)) return std::nullopt;
    std::vector<TranscriptFile> files;
    for (const path& chats : chat_dirs()) {
      // Main files name their session on their first line; a subagent's
      // commits are its parent's, the directory it sits in.
      for (const path& file : files_in(chats, "session-", ".jsonl")) files.push_back({file, ""});
      for (const path& parent : dirs_in(chats)) {
        for (const path& file : files_in(parent, "", ".jsonl")) files.push_back({file, parent.filename().string()});
      }
    }
    return scan_transcripts(files, GeminiDialect{}, ScanRequest(repo_root, shas, since, commit_times));
  }
};

}  // namespace

const Adapter& gemini_cli_adapter() {
  static const GeminiCliAdapter adapter;
  return adapter;
}

}  // namespace tamrik::agents
