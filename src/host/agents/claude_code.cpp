#include "host/agents/claude_code.hpp"

#include "host/agents/builtin_adapters.hpp"
#include "host/agents/env_markers.hpp"
#include "host/agents/git_commit_text.hpp"
#include "host/agents/jsonl_reader.hpp"
#include "host/agents/telemetry_builder.hpp"
#include "host/agents/transcript_files.hpp"
#include "host/agents/transcript_json.hpp"
#include "host/agents/transcript_scan.hpp"

namespace tamrik::agents {

namespace {

// CLAUDECODE is also set in IDE terminals, where no agent runs the commands.
constexpr EnvMarker kClaudeMarkers[] = {
    {"CLAUDE_CODE_CHILD_SESSION", "", true},
    {"CLAUDE_CODE_SESSION_ID", "", true},
    {"CLAUDECODE", "", false},
    {"CLAUDE_CODE_ENTRYPOINT", "", false},
};

// Not a model: Claude Code's own placeholder for messages it made up.
constexpr std::string_view kSyntheticModel = "<synthetic>";

std::optional<path> projects_dir() {
  auto home = claude_code_home();
  if (!home) return std::nullopt;
  return *home / "projects";
}

// UTF-16 code units of the UTF-8 sequence starting with `lead`, and its length.
std::pair<std::size_t, std::size_t> utf16_units(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (length == 1 || at + length > text.size()) return {1, 1};
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return {1, 1};
  }
  return {length == 4 ? 2 : 1, length};
}

bool is_ascii_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

TokenCounts claude_usage(const Json& usage) {
  TokenCounts counts;
  counts.input = count_of(usage, "input_tokens");
  counts.output = count_of(usage, "output_tokens");
  counts.cache_read = count_of(usage, "cache_read_input_tokens");
  counts.cache_creation = count_of(usage, "cache_creation_input_tokens");
  if (counts.cache_creation == 0) {
    // Some versions wrote 0 here and only the breakdown by cache lifetime.
    const Json& breakdown = member(usage, "cache_creation");
    counts.cache_creation =
        count_of(breakdown, "ephemeral_5m_input_tokens") + count_of(breakdown, "ephemeral_1h_input_tokens");
  }
  return counts;
}

// A line a person typed (not a tool result, not a harness-made note).
bool is_prompt(const Json& line) {
  if (is_set(line, "isSidechain") || is_set(line, "isMeta") || is_set(line, "isCompactSummary")) return false;
  const Json& content = member(member(line, "message"), "content");
  if (content.is_string()) return !content.get_ref<const std::string&>().empty();
  if (!content.is_array()) return false;
  bool text = false;
  for (const Json& block : content) {
    const std::string type = get_text(block, "type");
    if (type == "tool_result") return false;
    text = text || type == "text";
  }
  return text;
}

class TelemetryReader {
 public:
  explicit TelemetryReader(std::string session_id) : builder_(std::move(session_id)) {}

  void read(const path& file, bool main_file) {
    for_each_jsonl_line(file, buffer_, [&](std::string_view line) { read_line(line, main_file); });
  }

  SessionTelemetry finish() {
    // The session's model is the main conversation's; subagents may run a
    // smaller one.
    builder_.saw_model(main_model_.empty() ? subagent_model_ : main_model_);
    return builder_.build();
  }

 private:
  void read_line(std::string_view raw, bool main_file) {
    const bool assistant = holds(raw, "\"type\":\"assistant\"");
    const bool maybe_prompt =
        !assistant && main_file && holds(raw, "\"type\":\"user\"") && !holds(raw, "\"tool_result\"");
    if (!assistant && !maybe_prompt) return;
    const auto line = core::parse_json(raw);
    if (!line || !line->is_object()) return;
    const std::string type = get_text(*line, "type");
    if (type == "assistant") {
      read_assistant(*line, main_file);
    } else if (type == "user" && main_file && is_prompt(*line)) {
      builder_.saw_turn(get_text(*line, "uuid"));
      builder_.saw_time(time_of(*line, "timestamp"));
    }
  }

  void read_assistant(const Json& line, bool main_file) {
    const Json& message = member(line, "message");
    const std::string model = get_text(message, "model");
    if (model == kSyntheticModel) return;
    if (!model.empty()) (main_file ? main_model_ : subagent_model_) = model;
    builder_.saw_time(time_of(line, "timestamp"));
    const Json& usage = member(message, "usage");
    if (!usage.is_object()) return;
    // One response is written as several lines (one per content block), the
    // early ones with placeholder usage: the last line per id holds the truth.
    std::string id = get_text(message, "id");
    if (id.empty()) id = get_text(line, "requestId");
    builder_.saw_usage(id, claude_usage(usage));
  }

  TelemetryBuilder builder_;
  std::string main_model_;
  std::string subagent_model_;
  std::vector<char> buffer_;
};

// Text of a tool result: its content (text or text blocks) and the
// structured result's stdout.
std::string result_text(const Json& block, const Json& tool_use_result) {
  std::string text;
  const Json& content = member(block, "content");
  if (content.is_string()) {
    text = content.get_ref<const std::string&>();
  } else if (content.is_array()) {
    for (const Json& part : content) text += get_text(part, "text") + "\n";
  }
  if (tool_use_result.is_object()) text += "\n" + get_text(tool_use_result, "stdout");
  return text;
}

CallOutcome result_outcome(const Json& block, const Json& tool_use_result) {
  // A failed Bash call is flagged, and its structured result is a plain error string.
  if (is_set(block, "is_error") || tool_use_result.is_string()) return CallOutcome::failed;
  if (is_set(tool_use_result, "interrupted")) return CallOutcome::unknown;
  return CallOutcome::succeeded;
}

class ClaudeDialect final : public TranscriptDialect {
 public:
  std::string_view call_marker() const override { return "\"name\":\"Bash\""; }

  void read_line(const Json& line, SessionEvidence& session) const override {
    const std::string type = get_text(line, "type");
    const Json& content = member(member(line, "message"), "content");
    if (!content.is_array()) return;
    const double when = time_of(line, "timestamp").value_or(0);
    if (type == "assistant") {
      for (const Json& block : content) {
        if (get_text(block, "type") != "tool_use" || get_text(block, "name") != "Bash") continue;
        if (!runs_git_commit(get_text(member(block, "input"), "command"))) continue;
        session.add_call({.id = get_text(block, "id"), .started = when, .cwd = get_text(line, "cwd")});
      }
    } else if (type == "user") {
      const Json& tool_use_result = member(line, "toolUseResult");
      for (const Json& block : content) {
        if (get_text(block, "type") != "tool_result") continue;
        session.add_result(get_text(block, "tool_use_id"), when, result_outcome(block, tool_use_result),
                           result_text(block, tool_use_result));
      }
    }
  }
};

class ClaudeCodeAdapter final : public Adapter {
 public:
  std::string name() const override { return "claude-code"; }
  std::string provider() const override { return "anthropic"; }

  bool detect(bool strong_only) const override { return has_marker(kClaudeMarkers, strong_only); }

  std::optional<std::string> get_session_id(const path& /*repo_root*/) const override {
    return env_text("CLAUDE_CODE_SESSION_ID");
  }

  std::optional<SessionTelemetry> get_telemetry_for_session(const path& repo_root,
                                                            std::string_view session_id) const override {
    const auto transcript = find_claude_transcript(repo_root, session_id);
    if (!transcript) return std::nullopt;
    TelemetryReader reader{std::string(session_id)};
    reader.read(*transcript, true);
    const path subagents = transcript->parent_path() / std::string(session_id) / "subagents";
    for (const path& file : files_in(subagents, "", ".jsonl")) reader.read(file, false);
    return reader.finish();
  }

  std::optional<SessionHits> sessions_mentioning(const path& repo_root, const std::vector<std::string>& shas,
                                                 std::optional<double> since,
                                                 const std::map<std::string, double>& commit_times) const override {
    const auto projects = projects_dir();
    std::error_code ec;
    if (!projects || !std::filesystem::is_directory(*projects, ec)) return std::nullopt;
    std::vector<TranscriptFile> files;
    for (const path& project : dirs_in(*projects)) {
      for (const path& file : files_in(project, "", ".jsonl")) files.push_back({file, file.stem().string()});
      // A subagent's commits are its parent session's.
      for (const path& session_dir : dirs_in(project)) {
        for (const path& file : files_in(session_dir / "subagents", "", ".jsonl")) {
          files.push_back({file, session_dir.filename().string()});
        }
      }
    }
    return scan_transcripts(files, ClaudeDialect{}, ScanRequest(repo_root, shas, since, commit_times));
  }
};

}  // namespace

std::string claude_project_key(std::string_view directory) {
  std::string key;
  key.reserve(directory.size());
  for (std::size_t at = 0; at < directory.size();) {
    if (is_ascii_alnum(directory[at])) {
      key += directory[at++];
      continue;
    }
    const auto [units, length] = utf16_units(directory, at);
    key.append(units, '-');
    at += length;
  }
  return key;
}

std::optional<path> find_claude_transcript(const path& repo_root, std::string_view session_id) {
  if (!is_safe_session_id(session_id)) return std::nullopt;
  const auto projects = projects_dir();
  if (!projects) return std::nullopt;
  const std::string file_name = std::string(session_id) + ".jsonl";

  std::vector<path> likely;
  const std::string key = claude_project_key(repo_root.string());
  if (key.size() <= kMaxClaudeProjectKey) likely.push_back(*projects / key / file_name);
  if (auto chosen = env_text("CLAUDE_CODE_PROJECT_DIR_NAME"); chosen && is_safe_session_id(*chosen)) {
    likely.push_back(*projects / *chosen / file_name);
  }
  for (const path& candidate : likely) {
    if (is_plain_file(candidate)) return candidate;
  }
  for (const path& project : dirs_in(*projects)) {
    if (is_plain_file(project / file_name)) return project / file_name;
  }
  return std::nullopt;
}

const Adapter& claude_code_adapter() {
  static const ClaudeCodeAdapter adapter;
  return adapter;
}

}  // namespace tamrik::agents
