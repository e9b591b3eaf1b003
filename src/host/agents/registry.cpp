#include "host/agents/registry.hpp"

#include "core/best_effort.hpp"
#include "host/agents/builtin_adapters.hpp"
#include "core/text.hpp"

#include <algorithm>
#include <cctype>

namespace tamrik::agents {

namespace {

// The registry's order: the harnesses with the richest transcripts first,
// so a session id two adapters could claim goes to the one that reads it
// best.
std::vector<const Adapter*> builtin_adapters() {
  return {&claude_code_adapter(), &codex_adapter(), &gemini_cli_adapter(), &cursor_adapter(), &windsurf_adapter()};
}

std::vector<const Adapter*>& active_adapters() {
  static std::vector<const Adapter*> adapters = builtin_adapters();
  return adapters;
}

struct Alias {
  std::string_view spelling;  // lower case, words joined by '-'
  std::string_view name;
};

constexpr Alias kAliases[] = {
    {"claude-code", "claude-code"},
    {"claude", "claude-code"},
    {"claudecode", "claude-code"},
    {"claude-cli", "claude-code"},
    {"anthropic-claude-code", "claude-code"},
    {"codex", "codex"},
    {"codex-cli", "codex"},
    {"openai-codex", "codex"},
    {"openai-codex-cli", "codex"},
    {"gemini-cli", "gemini-cli"},
    {"gemini", "gemini-cli"},
    {"geminicli", "gemini-cli"},
    {"google-gemini-cli", "gemini-cli"},
    {"cursor", "cursor"},
    {"cursor-agent", "cursor"},
    {"cursor-cli", "cursor"},
    {"cursor-ide", "cursor"},
    {"windsurf", "windsurf"},
    {"windsurf-cascade", "windsurf"},
    {"cascade", "windsurf"},
};

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string trimmed_lower(std::string_view name) { return core::lower_ascii(core::trim(name, core::kAsciiSpace)); }

// "claude code", "claude_code" and "Claude-Code" all become "claude-code".
std::string alias_key(std::string_view lower) {
  std::string key;
  for (char c : lower) {
    const bool joiner = c == '_' || c == '-' || is_space(c);
    if (!joiner) {
      key += c;
    } else if (!key.empty() && key.back() != '-') {
      key += '-';
    }
  }
  return key;
}

// The first adapter, in registry order, whose markers of that strength are
// present; an adapter that throws must not hide the others.
const Adapter* first_detected(bool strong_only) {
  for (const Adapter* adapter : active_adapters()) {
    bool detected = false;
    core::best_effort("Agent detection failed", [&] { detected = adapter->detect(strong_only); });
    if (detected) return adapter;
  }
  return nullptr;
}

}  // namespace

std::vector<const Adapter*> iter_adapters() { return active_adapters(); }

const Adapter* get_adapter_by_name(std::string_view name) {
  const std::string wanted = normalize_agent_name(name);
  if (wanted.empty()) return nullptr;
  for (const Adapter* adapter : active_adapters()) {
    if (normalize_agent_name(adapter->name()) == wanted) return adapter;
  }
  return nullptr;
}

const Adapter* detect_active_agent() { return first_detected(true); }

const Adapter* weak_agent_hint() {
  if (first_detected(true) != nullptr) return nullptr;
  return first_detected(false);
}

std::string normalize_agent_name(std::string_view name) {
  std::string lower = trimmed_lower(name);
  const std::string key = alias_key(lower);
  for (const Alias& alias : kAliases) {
    if (alias.spelling == key) return std::string(alias.name);
  }
  return lower;
}

ScopedRegistry::ScopedRegistry(std::vector<std::unique_ptr<Adapter>> adapters)
    : adapters_(std::move(adapters)), previous_(active_adapters()) {
  std::vector<const Adapter*> scoped;
  for (const auto& adapter : adapters_) scoped.push_back(adapter.get());
  active_adapters() = std::move(scoped);
}

ScopedRegistry::~ScopedRegistry() { active_adapters() = std::move(previous_); }

}  // namespace tamrik::agents
