#include "host/paths.hpp"
#include "host/hooks/foreign_hooks.hpp"

#include "core/json.hpp"
#include "host/hooks/claude_code_hooks.hpp"
#include "host/hooks/git_hook.hpp"
#include "host/hooks/hook_place.hpp"
#include "host/hooks/shell_words.hpp"
#include "host/utils/user_file.hpp"

#include <array>
#include <string>
#include <string_view>

namespace tamrik::hooks::installer {

namespace {

using core::Json;
namespace user_file = utils::user_file;

constexpr std::string_view kForeignProgram = "entire";

constexpr std::array<std::string_view, 5> kAgentHookFiles = {
    ".claude/settings.json", ".claude/settings.local.json", ".gemini/settings.json",
    ".cursor/hooks.json",    ".windsurf/hooks.json",
};

bool runs_foreign_program(std::string_view command) {
  const std::vector<std::string> words = split_words(command);
  return !words.empty() && path(words[0]).filename() == kForeignProgram;
}

// The script without the lines that run the other tool. A line at the top
// level goes; an indented one most likely sits in an `if` or a function,
// whose body must not be left empty, so it becomes the no-op `:`. A line
// continued onto the next one is left alone: cutting it would leave its
// tail behind as a command of its own.
std::string without_foreign_lines(std::string_view script) {
  std::string kept;
  size_t start = 0;
  while (start < script.size()) {
    size_t end = script.find('\n', start);
    end = end == std::string_view::npos ? script.size() : end + 1;
    const std::string_view line = script.substr(start, end - start);
    start = end;
    const std::string_view body = line.substr(0, line.find_last_not_of("\r\n") + 1);
    if (body.starts_with("#") || body.ends_with("\\") || !runs_foreign_program(body)) {
      kept.append(line);
      continue;
    }
    const size_t indent = body.find_first_not_of(" \t");
    if (indent > 0) kept.append(body.substr(0, indent)).append(":\n");
  }
  return kept;
}

bool strip_git_hook(const path& repo_root, GitHook which) {
  const path hook = hook_place(repo_root, which).git_runs;
  const std::optional<std::string> before = user_file::read_if_exists(hook);
  if (!before || !takes_shell_lines(*before)) return false;
  const std::string after = without_foreign_lines(*before);
  if (after == *before) return false;
  if (only_shebang_left(after) || after.find_first_not_of(" \t\r\n") == std::string::npos) {
    user_file::remove(hook);
  } else {
    user_file::replace(hook, after, 0755);
  }
  return true;
}

bool is_foreign_handler(const Json& handler) {
  return handler.is_object() && runs_foreign_program(core::get_text(handler, "command"));
}

// Takes the other tool's handlers out of one event's list. Entries are
// either handlers or matcher groups holding a `hooks` list of handlers; a
// group left empty goes too.
bool strip_event(Json& entries) {
  bool changed = false;
  for (auto entry = entries.begin(); entry != entries.end();) {
    if (is_foreign_handler(*entry)) {
      entry = entries.erase(entry);
      changed = true;
      continue;
    }
    const auto handlers = entry->is_object() ? entry->find("hooks") : entry->end();
    if (handlers != entry->end() && handlers->is_array()) {
      const size_t count = handlers->size();
      for (auto handler = handlers->begin(); handler != handlers->end();) {
        handler = is_foreign_handler(*handler) ? handlers->erase(handler) : handler + 1;
      }
      if (handlers->size() != count) {
        changed = true;
        if (handlers->empty()) {
          entry = entries.erase(entry);
          continue;
        }
      }
    }
    ++entry;
  }
  return changed;
}

bool strip_agent_hook_file(const path& file) {
  const std::optional<std::string> text = user_file::read_if_exists(file);
  if (!text) return false;
  std::optional<Json> settings = core::parse_json(*text);
  if (!settings || !settings->is_object()) {
    throw SettingsFormatError(file.string() +
                              " is not a JSON object; fix it (or move it away), then run `tamrik sync` again");
  }
  const auto hooks = settings->find("hooks");
  if (hooks == settings->end() || !hooks->is_object()) return false;
  bool changed = false;
  for (auto event = hooks->begin(); event != hooks->end();) {
    if (event->is_array() && strip_event(*event)) {
      changed = true;
      if (event->empty()) {
        event = hooks->erase(event);
        continue;
      }
    }
    ++event;
  }
  if (!changed) return false;
  if (hooks->empty()) settings->erase("hooks");
  const bool nothing_else = settings->empty() || (settings->size() == 1 && settings->contains("version"));
  if (nothing_else) {
    user_file::remove(file);
  } else {
    user_file::replace(file, settings->dump(2, ' ', false, Json::error_handler_t::replace) + "\n", 0644);
  }
  return true;
}

}  // namespace

bool cleanup_entire(const path& repo_root) {
  bool changed = false;
  for (const GitHook hook : kGitHooks) changed = strip_git_hook(repo_root, hook) || changed;
  for (std::string_view file : kAgentHookFiles)
    changed = strip_agent_hook_file(paths::repository_file(repo_root, file)) || changed;
  return changed;
}

}  // namespace tamrik::hooks::installer
