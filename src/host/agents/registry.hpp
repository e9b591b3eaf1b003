#pragma once
// The agent registry: one adapter per agent harness (Claude Code, Codex, ...)
// that knows how to tell whether this process runs under that harness, the
// harness's current session id, and what its transcripts say about a session.

#include "core/json.hpp"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::agents {

using core::Json;
using std::filesystem::path;

// Token counts of one session, de-duplicated as the harness's format needs.
struct TokenCounts {
  long long input = 0;
  long long output = 0;
  long long cache_creation = 0;
  long long cache_read = 0;
  bool any() const { return input != 0 || output != 0 || cache_creation != 0 || cache_read != 0; }
};

// What an adapter learned about one session from its transcripts.
struct SessionTelemetry {
  std::string session_id;
  std::string model;  // "" when the transcript names none
  TokenCounts tokens;
  long long turns = 0;
  std::string started_at;  // UTC "%Y-%m-%dT%H:%M:%SZ", "" when unknown
  std::string ended_at;

  // The upload-ready map: session_id, model (when known), tokens (a map of
  // input, output, cache_creation, cache_read, when any is non-zero), turns,
  // started_at, ended_at (when known).
  Json to_dict() const;
};

// commit hash -> ids of this adapter's sessions that made or mention it.
using SessionHits = std::map<std::string, std::vector<std::string>>;

class Adapter {
 public:
  virtual ~Adapter() = default;

  virtual std::string name() const = 0;      // e.g. "claude-code"; stored on records
  virtual std::string provider() const = 0;  // e.g. "anthropic"

  // Whether this process runs under the harness (from its environment).
  // `strong` markers only when strong_only is set.
  virtual bool detect(bool strong_only) const = 0;

  // The harness's current session id, or nullopt. Never guesses.
  virtual std::optional<std::string> get_session_id(const path& repo_root) const = 0;

  // What the transcripts of `session_id` say, or nullopt when the adapter
  // does not know the session. May throw on unreadable stores; callers catch.
  virtual std::optional<SessionTelemetry> get_telemetry_for_session(const path& repo_root,
                                                                    std::string_view session_id) const = 0;

  // For each of `shas`, the sessions on this machine that made the commit (a
  // `git commit` call just before its time) or, failing that, mention its
  // hash. Transcripts last written before `since` (seconds since the epoch)
  // are not read. nullopt when the adapter has no store at all.
  virtual std::optional<SessionHits> sessions_mentioning(const path& repo_root, const std::vector<std::string>& shas,
                                                         std::optional<double> since,
                                                         const std::map<std::string, double>& commit_times) const = 0;
};

// Every known adapter, in the registry's order. Built in: claude-code,
// codex, gemini-cli, cursor, windsurf (richest transcripts first).
std::vector<const Adapter*> iter_adapters();
// The adapter with that name (after normalize_agent_name), or nullptr.
const Adapter* get_adapter_by_name(std::string_view name);
// The adapter of the harness this process runs under, or nullptr. Only
// strong markers count: an editor's integrated terminal carries the weak
// ones, and a person types there.
const Adapter* detect_active_agent();
// The harness a weak marker names when no strong marker is present, or
// nullptr: a hint for the record, never an attribution.
const Adapter* weak_agent_hint();
// Canonical spelling of an agent name ("Claude Code", "claude_code",
// "claude" -> "claude-code"); unknown names come back trimmed and lower-cased.
std::string normalize_agent_name(std::string_view name);

// For tests: while alive, the registry holds exactly `adapters` (in order),
// instead of the built-in ones.
class ScopedRegistry {
 public:
  explicit ScopedRegistry(std::vector<std::unique_ptr<Adapter>> adapters);
  ~ScopedRegistry();
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;

 private:
  std::vector<std::unique_ptr<Adapter>> adapters_;
  std::vector<const Adapter*> previous_;
};

}  // namespace tamrik::agents
