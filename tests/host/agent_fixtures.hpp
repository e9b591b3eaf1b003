#pragma once
// Fixtures for the agent adapter tests: environment variables set for one
// test, and builders for transcript lines in the formats the harnesses write,
// so each test states only what it is about. Shapes follow what Claude Code 2.1,
// Codex 0.10x and Gemini CLI 0.4x write; the values are made up.

#include "core/json.hpp"
#include "core/time_text.hpp"
#include "support/test_env.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tamrik::testing::agent_fixtures {

using core::Json;

// Sets (or, with nullopt, unsets) environment variables; restores them on
// destruction.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(std::initializer_list<std::pair<const char*, std::optional<std::string>>> values) {
    for (const auto& [name, value] : values) set(name, value);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void set(const char* name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A fixed day, so tests read the same everywhere.
inline constexpr double kDay = 1785000000;  // 2026-07-25

inline std::string iso(double when) {
  const auto whole = static_cast<std::time_t>(std::floor(when));
  const int millis = static_cast<int>(std::lround((when - std::floor(when)) * 1000)) % 1000;
  std::string text = core::format_utc(whole);  // ...Z
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03dZ", millis);
  text.replace(text.size() - 1, 1, fraction);
  return text;
}

inline std::string jsonl(const std::vector<Json>& lines) {
  std::string text;
  for (const Json& line : lines) text += line.dump() + "\n";
  return text;
}

// Sets a file's modification time (seconds since the epoch).
inline void set_mtime(const std::filesystem::path& file, double when) {
  const struct timespec times[2] = {{static_cast<std::time_t>(when), 0}, {static_cast<std::time_t>(when), 0}};
  ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// ---- Claude Code -------------------------------------------------------

struct ClaudeSession {
  std::string id;
  std::string cwd;
  int counter = 0;

  Json base(const std::string& type, double when) {
    return Json{{"parentUuid", nullptr},
                {"isSidechain", false},
                {"userType", "external"},
                {"cwd", cwd},
                {"sessionId", id},
                {"version", "2.1.220"},
                {"gitBranch", "main"},
                {"type", type},
                {"uuid", "u-" + std::to_string(++counter)},
                {"timestamp", iso(when)}};
  }

  Json prompt(const std::string& text, double when) {
    Json line = base("user", when);
    line["message"] = {{"role", "user"}, {"content", text}};
    return line;
  }

  Json assistant(const std::string& message_id, const std::string& model, Json content, Json usage, double when) {
    Json line = base("assistant", when);
    line["message"] = {{"model", model},
                       {"id", message_id},
                       {"type", "message"},
                       {"role", "assistant"},
                       {"content", std::move(content)},
                       {"stop_reason", nullptr},
                       {"usage", std::move(usage)}};
    line["requestId"] = "req_" + message_id;
    return line;
  }

  static Json usage(long long input, long long output, long long cache_creation, long long cache_read) {
    return Json{{"input_tokens", input},
                {"cache_creation_input_tokens", cache_creation},
                {"cache_read_input_tokens", cache_read},
                {"output_tokens", output},
                {"service_tier", "standard"}};
  }

  Json text_reply(const std::string& message_id, const std::string& text, Json usage_counts, double when,
                  const std::string& model = "claude-opus-4-6") {
    return assistant(message_id, model, Json::array({{{"type", "text"}, {"text", text}}}), std::move(usage_counts),
                     when);
  }

  Json bash_call(const std::string& tool_id, const std::string& command, double when) {
    Json block = {{"type", "tool_use"},
                  {"id", tool_id},
                  {"name", "Bash"},
                  {"input", {{"command", command}, {"description", "run it"}}}};
    return assistant("msg_" + tool_id, "claude-opus-4-6", Json::array({block}), usage(3, 40, 0, 1000), when);
  }

  Json bash_result(const std::string& tool_id, const std::string& stdout_text, double when) {
    Json line = base("user", when);
    line["message"] = {
        {"role", "user"},
        {"content",
         Json::array(
             {{{"tool_use_id", tool_id}, {"type", "tool_result"}, {"content", stdout_text}, {"is_error", false}}})}};
    line["toolUseResult"] = {{"stdout", stdout_text},
                             {"stderr", ""},
                             {"interrupted", false},
                             {"isImage", false},
                             {"noOutputExpected", false}};
    return line;
  }

  // A failed call: flagged, and the structured result is a plain string.
  Json bash_error(const std::string& tool_id, const std::string& error, double when) {
    Json line = base("user", when);
    line["message"] = {
        {"role", "user"},
        {"content",
         Json::array({{{"type", "tool_result"}, {"content", error}, {"is_error", true}, {"tool_use_id", tool_id}}})}};
    line["toolUseResult"] = "Error: " + error;
    return line;
  }
};

// ---- Codex ---------------------------------------------------------------

inline Json codex_line(const std::string& type, Json payload, double when) {
  return Json{{"timestamp", iso(when)}, {"type", type}, {"payload", std::move(payload)}};
}

inline Json codex_meta(const std::string& thread, const std::string& cwd, double when) {
  return codex_line("session_meta",
                    {{"id", thread},
                     {"timestamp", iso(when)},
                     {"cwd", cwd},
                     {"originator", "codex_cli_rs"},
                     {"cli_version", "0.104.0"},
                     {"source", "cli"},
                     {"model_provider", "openai"}},
                    when);
}

inline Json codex_turn(const std::string& turn, const std::string& model, const std::string& cwd, double when) {
  return codex_line(
      "turn_context",
      {{"turn_id", turn}, {"cwd", cwd}, {"model", model}, {"effort", "medium"}, {"approval_policy", "on-request"}},
      when);
}

inline Json codex_tokens(Json total, double when) {
  Json info = total.is_null()
                  ? Json()
                  : Json{{"total_token_usage", total}, {"last_token_usage", total}, {"model_context_window", 272000}};
  return codex_line("event_msg", {{"type", "token_count"}, {"info", info}, {"rate_limits", Json::object()}}, when);
}

inline Json codex_usage(long long input, long long cached, long long output) {
  return Json{{"input_tokens", input},
              {"cached_input_tokens", cached},
              {"output_tokens", output},
              {"reasoning_output_tokens", output / 2},
              {"total_tokens", input + output}};
}

// Newer form: exec_command with {"cmd": "..."}.
inline Json codex_exec(const std::string& call_id, const std::string& command, double when) {
  return codex_line("response_item",
                    {{"type", "function_call"},
                     {"name", "exec_command"},
                     {"arguments", Json{{"cmd", command}, {"yield_time_ms", 10000}}.dump()},
                     {"call_id", call_id}},
                    when);
}

// Older form: shell with {"command": ["bash", "-lc", "..."]}.
inline Json codex_shell(const std::string& call_id, const std::string& command, double when) {
  return codex_line("response_item",
                    {{"type", "function_call"},
                     {"name", "shell"},
                     {"arguments", Json{{"command", Json::array({"bash", "-lc", command})}}.dump()},
                     {"call_id", call_id}},
                    when);
}

inline Json codex_output(const std::string& call_id, const std::string& output, double when) {
  return codex_line("response_item", {{"type", "function_call_output"}, {"call_id", call_id}, {"output", output}},
                    when);
}

inline std::string codex_exec_output(int exit_code, const std::string& text) {
  return "Chunk ID: 4f2a\nWall time: 0.3 seconds\nProcess exited with code " + std::to_string(exit_code) +
         "\nOriginal token count: 40\nOutput:\n" + text;
}

inline std::string codex_shell_output(int exit_code, const std::string& text) {
  return Json{{"output", text}, {"metadata", {{"exit_code", exit_code}, {"duration_seconds", 0.4}}}}.dump();
}

// rollout-<local time>-<thread>.jsonl under sessions/YYYY/MM/DD
inline std::filesystem::path codex_rollout(const std::filesystem::path& codex_home, const std::string& thread) {
  return codex_home / "sessions" / "2026" / "07" / "25" / ("rollout-2026-07-25T10-00-00-" + thread + ".jsonl");
}

// ---- Gemini CLI ------------------------------------------------------------

inline Json gemini_meta(const std::string& session, double when) {
  return Json{{"sessionId", session},
              {"projectHash", "4b1c"},
              {"startTime", iso(when)},
              {"lastUpdated", iso(when)},
              {"kind", "main"}};
}

inline Json gemini_user(const std::string& id, const std::string& text, double when) {
  return Json{{"id", id}, {"timestamp", iso(when)}, {"type", "user"}, {"content", text}};
}

inline Json gemini_reply(const std::string& id, const std::string& model, Json tokens, Json tool_calls, double when) {
  return Json{{"id", id},
              {"timestamp", iso(when)},
              {"type", "gemini"},
              {"content", "done"},
              {"model", model},
              {"tokens", std::move(tokens)},
              {"toolCalls", std::move(tool_calls)}};
}

inline Json gemini_tokens(long long input, long long output, long long cached, long long thoughts) {
  return Json{{"input", input},       {"output", output}, {"cached", cached},
              {"thoughts", thoughts}, {"tool", 0},        {"total", input + output + thoughts}};
}

inline Json gemini_shell(const std::string& id, const std::string& command, const std::string& output,
                         const std::string& status, double when) {
  return Json{
      {"id", id},
      {"name", "run_shell_command"},
      {"args", {{"command", command}}},
      {"result", Json::array({{{"functionResponse",
                                {{"id", id}, {"name", "run_shell_command"}, {"response", {{"output", output}}}}}}})},
      {"status", status},
      {"timestamp", iso(when)}};
}

}  // namespace tamrik::testing::agent_fixtures
