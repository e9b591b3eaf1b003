#pragma once
// tamrik's rows in a hook file of Claude Code's shape: event -> list of
// matcher groups -> list of command handlers. Claude Code's settings.json
// is one; Codex reads the same shape from its hooks.json. Which rows go
// into which harness's file is agent_hooks.hpp's business.
//
// The file is edited as text (utils/json_file.hpp): every byte outside our
// handlers stays, and nothing is written when they are already right. A
// handler is ours when its command is one of ours run by a program named
// tamrik, wherever that program lives, so a moved tamrik is updated rather
// than added twice; of a handler of ours only the command is set again,
// keys the person added to it stay.

#include "core/errors.hpp"

#include <filesystem>
#include <span>
#include <string_view>

namespace tamrik::hooks::installer {

using std::filesystem::path;

// The hook file is not one the harness reads (not a JSON object, or a
// `hooks` entry of the wrong shape): it is left alone, and the message says
// where the problem is.
class SettingsFormatError : public core::Error {
 public:
  explicit SettingsFormatError(const std::string& message) : Error("SettingsFormatError", message) {}
};

// One handler of ours, in the group of its event with its matcher.
struct HookRow {
  std::string_view event;      // "PostToolUse"
  std::string_view matcher;    // "Bash"
  std::string_view arguments;  // after the program
  std::string_view if_filter;  // the handler's `if`; "" for none
  int timeout_seconds;
};

// Adds or updates `rows` to run `program`. Returns whether the file
// changed. Throws SettingsFormatError or OSError.
bool install_hook_rows(const path& file, std::span<const HookRow> rows, const path& program);

// Removes our handlers of `rows`, and the groups and events they leave
// empty; a file left as an empty object is removed. Returns whether
// anything changed.
bool uninstall_hook_rows(const path& file, std::span<const HookRow> rows);

// Every one of `rows` is present.
bool hook_rows_installed(const path& file, std::span<const HookRow> rows);

}  // namespace tamrik::hooks::installer
