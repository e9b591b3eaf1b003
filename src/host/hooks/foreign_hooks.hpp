#pragma once
// Hooks another commit-recording tool installs in a repository, which tamrik
// replaces and which would otherwise record, or rewrite, every commit twice.
//
// Another tool's rows are recognised by the program they run: a line of a
// git hook tamrik installs, or an agent hook handler, whose command's first
// word is a program named `entire` (wherever it lives). Nothing else is touched: not
// the user's lines, not tamrik's own block, not hooks written for another
// interpreter. The agent hook files looked at are the repository's own:
//   .claude/settings.json  .claude/settings.local.json  .gemini/settings.json
//   .cursor/hooks.json     .windsurf/hooks.json

#include <filesystem>

namespace tamrik::hooks::installer {

// Removes those rows from the repository's git hooks and agent hook
// files; a hook or settings file left with nothing else is removed.
// Idempotent: without such rows it changes nothing. Returns whether it
// changed anything. Throws OSError, or SettingsFormatError for an agent
// file that is not a JSON object.
bool cleanup_entire(const std::filesystem::path& repo_root);

}  // namespace tamrik::hooks::installer
