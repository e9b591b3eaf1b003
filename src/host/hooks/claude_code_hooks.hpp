#pragma once
// tamrik's rows in Claude Code's user settings (settings.json in
// $CLAUDE_CONFIG_DIR, else ~/.claude):
//
//   PostToolUse:  matcher "Bash", handler `if` "Bash(git *)" (the harness
//                 starts the hook only for git commands), running
//                 `<tamrik> attest add --from-hook --agent claude-code`
//   SessionStart: running `<tamrik> hook session-start --agent claude-code`
//
// The rows are per user, so they fire in every repository; the hook does
// nothing in a repository that is not set up. Every other setting in the
// file is kept; the file is rewritten atomically and only when it changes.
// A handler is ours when its command is one of ours run by a program named
// tamrik, wherever that program lives, so a moved tamrik is updated rather
// than added twice.

#include "core/errors.hpp"

#include <filesystem>
#include <optional>

namespace tamrik::hooks::installer {

using std::filesystem::path;

// The settings file is not what Claude Code reads (not a JSON object, or a
// `hooks` entry of the wrong shape): it is left alone, and the message says
// where the problem is.
class SettingsFormatError : public core::Error {
 public:
  explicit SettingsFormatError(const std::string& message) : Error("SettingsFormatError", message) {}
};

// The user's Claude Code settings file, whether or not it exists; nullopt
// when neither CLAUDE_CONFIG_DIR nor HOME is set.
std::optional<path> claude_code_settings_file();

// Adds or updates both rows to run `program`. Returns whether the file
// changed. Throws SettingsFormatError or OSError.
bool install_claude_code_hooks(const path& settings_file, const path& program);

// Removes our handlers, and the groups and events they leave empty; a file
// left as an empty object is removed. Returns whether anything changed.
bool uninstall_claude_code_hooks(const path& settings_file);

// Both rows are present.
bool claude_code_hooks_installed(const path& settings_file);

}  // namespace tamrik::hooks::installer
