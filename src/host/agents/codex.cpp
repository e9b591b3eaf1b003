// Codex keeps one rollout file per thread:
//   $CODEX_HOME (or ~/.codex)/sessions/YYYY/MM/DD/rollout-<local time>-<thread id>.jsonl
// (and archived_sessions/), each line {"timestamp", "type", "payload"}.

#include "host/agents/builtin_adapters.hpp"
#include "host/agents/env_markers.hpp"
#include "host/agents/git_commit_text.hpp"
#include "host/agents/jsonl_reader.hpp"
#include "host/agents/telemetry_builder.hpp"
#include "host/agents/transcript_files.hpp"
#include "host/agents/transcript_json.hpp"
#include "host/agents/transcript_scan.hpp"

#include "core/time_text.hpp"

#include <algorithm>

namespace tamrik::agents {

namespace {

// CODEX_CI and CODEX_SHELL are seen in the wild but not documented upstream.
constexpr EnvMarker kCodexMarkers[] = {
    {"CODEX_THREAD_ID", "", true}, {"CODEX_SANDBOX", "", true}, {"CODEX_SANDBOX_NETWORK_DISABLED", "", true},
    {"CODEX_CI", "", false},       {"CODEX_SHELL", "", false},
};

constexpr std::string_view kRolloutPrefix = "rollout-";
// "rollout-" + "YYYY-MM-DDThh-mm-ss" + "-"
constexpr std::size_t kIdOffset = 8 + 19 + 1;
// sessions/YYYY/MM/DD
constexpr int kDateDepth = 3;

std::vector<path> rollout_files() {
  const auto home = codex_home();
  if (!home) return {};
  std::vector<path> files = files_below(*home / "sessions", kDateDepth, kRolloutPrefix, ".jsonl");
  std::vector<path> archived = files_below(*home / "archived_sessions", kDateDepth, kRolloutPrefix, ".jsonl");
  files.insert(files.end(), archived.begin(), archived.end());
  return files;
}

// The thread id in a rollout file's name, or "".
std::string thread_of(const path& file) {
  const std::string stem = file.stem().string();
  if (stem.size() <= kIdOffset || stem[kIdOffset - 1] != '-') return {};
  return stem.substr(kIdOffset);
}

std::optional<path> find_rollout(std::string_view thread_id) {
  if (!is_safe_session_id(thread_id)) return std::nullopt;
  for (const path& file : rollout_files()) {
    if (thread_of(file) == thread_id) return file;
  }
  return std::nullopt;
}

// Every rollout line starts with its time: read it without parsing the line.
std::optional<double> leading_time(std::string_view line) {
  constexpr std::string_view kStart = "{\"timestamp\":\"";
  if (line.substr(0, kStart.size()) != kStart) return std::nullopt;
  const std::size_t end = line.find('"', kStart.size());
  if (end == std::string_view::npos) return std::nullopt;
  return core::parse_iso8601(line.substr(kStart.size(), end - kStart.size()));
}

// Totals are per thread and cumulative; cached input is part of input.
TokenCounts codex_usage(const Json& total) {
  TokenCounts counts;
  counts.cache_read = count_of(total, "cached_input_tokens");
  counts.input = std::max(0LL, count_of(total, "input_tokens") - counts.cache_read);
  counts.output = count_of(total, "output_tokens");
  counts.cache_creation = count_of(total, "cache_write_input_tokens");
  return counts;
}

void read_telemetry_line(std::string_view raw, TelemetryBuilder& builder) {
  builder.saw_time(leading_time(raw));
  if (!holds(raw, "\"turn_context\"") && !holds(raw, "\"token_count\"")) return;
  const auto line = core::parse_json(raw);
  if (!line || !line->is_object()) return;
  const std::string type = get_text(*line, "type");
  const Json& payload = member(*line, "payload");
  if (type == "turn_context") {
    // Written once per turn; the model may change between turns.
    builder.saw_model(get_text(payload, "model"));
    builder.saw_turn(get_text(payload, "turn_id"));
  } else if (type == "event_msg" && get_text(payload, "type") == "token_count") {
    const Json& total = member(member(payload, "info"), "total_token_usage");
    if (total.is_object()) builder.saw_usage("thread", codex_usage(total));
  }
}

// The command line of a shell tool call: `exec_command` takes {"cmd": "..."},
// the older `shell` takes {"command": ["bash", "-lc", "..."]}.
std::string shell_command(std::string_view tool, const Json& arguments) {
  if (tool != "exec_command" && tool != "shell" && tool != "shell_command") return {};
  const Json& command = member(arguments, tool == "exec_command" ? "cmd" : "command");
  if (command.is_string()) return command.get<std::string>();
  std::string joined;
  if (command.is_array()) {
    for (const Json& word : command) {
      if (word.is_string()) joined += word.get_ref<const std::string&>() + " ";
    }
  }
  return joined;
}

struct ShellResult {
  CallOutcome outcome = CallOutcome::unknown;
  std::string text;
};

ShellResult shell_result(const Json& output) {
  ShellResult result;
  if (output.is_object()) {
    result.text = get_text(output, "content");
    const Json& success = member(output, "success");
    if (success.is_boolean()) result.outcome = success.get<bool>() ? CallOutcome::succeeded : CallOutcome::failed;
    return result;
  }
  if (!output.is_string()) return result;
  result.text = output.get<std::string>();
  std::optional<int> code;
  // The older shell tool answers with JSON: {"output": ..., "metadata": {"exit_code": N}}.
  if (const auto wrapped = core::parse_json(result.text); wrapped && wrapped->is_object()) {
    const Json& exit_code = member(member(*wrapped, "metadata"), "exit_code");
    if (exit_code.is_number_integer()) code = exit_code.get<int>();
    result.text = get_text(*wrapped, "output");
  } else {
    code = exit_code_after(result.text, "Process exited with code ");
    if (!code) code = exit_code_after(result.text, "Exit code: ");
  }
  if (code) result.outcome = *code == 0 ? CallOutcome::succeeded : CallOutcome::failed;
  return result;
}

class CodexDialect final : public TranscriptDialect {
 public:
  std::string_view call_marker() const override { return "\"function_call\""; }

  void read_line(const Json& line, SessionEvidence& session) const override {
    if (get_text(line, "type") != "response_item") return;
    const Json& payload = member(line, "payload");
    const std::string kind = get_text(payload, "type");
    const double when = time_of(line, "timestamp").value_or(0);
    if (kind == "function_call") {
      const Json arguments = core::parse_json(get_text(payload, "arguments")).value_or(Json());
      if (!runs_git_commit(shell_command(get_text(payload, "name"), arguments))) return;
      session.add_call({.id = get_text(payload, "call_id"), .started = when, .cwd = get_text(arguments, "workdir")});
    } else if (kind == "function_call_output") {
      const ShellResult result = shell_result(member(payload, "output"));
      session.add_result(get_text(payload, "call_id"), when, result.outcome, result.text);
    }
  }

  std::string session_of_first_line(const Json& line) const override {
    if (get_text(line, "type") != "session_meta") return {};
    return get_text(member(line, "payload"), "id");
  }
};

class CodexAdapter final : public Adapter {
 public:
  std::string name() const override { return "codex"; }
  std::string provider() const override { return "openai"; }

  bool detect(bool strong_only) const override { return has_marker(kCodexMarkers, strong_only); }

  std::optional<std::string> get_session_id(const path& /*repo_root*/) const override {
    return env_text("CODEX_THREAD_ID");
  }

  std::optional<SessionTelemetry> get_telemetry_for_session(const path& /*repo_root*/,
                                                            std::string_view session_id) const override {
    const auto rollout = find_rollout(session_id);
    if (!rollout) return std::nullopt;
    TelemetryBuilder builder{std::string(session_id)};
    std::vector<char> buffer;
    for_each_jsonl_line(*rollout, buffer, [&](std::string_view line) { read_telemetry_line(line, builder); });
    return builder.build();
  }

  std::optional<SessionHits> sessions_mentioning(const path& repo_root, const std::vector<std::string>& shas,
                                                 std::optional<double> since,
                                                 const std::map<std::string, double>& commit_times) const override {
    const auto home = codex_home();
    std::error_code ec;
    if (!home || !std::filesystem::is_directory(*home / "sessions", ec)) return std::nullopt;
    std::vector<TranscriptFile> files;
    for (const path& file : rollout_files()) files.push_back({file, thread_of(file)});
    return scan_transcripts(files, CodexDialect{}, ScanRequest(repo_root, shas, since, commit_times));
  }
};

}  // namespace

const Adapter& codex_adapter() {
  static const CodexAdapter adapter;
  return adapter;
}

}  // namespace tamrik::agents
