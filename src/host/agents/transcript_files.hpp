#pragma once
// Finding a harness's transcript files. Stores belong to other programs and
// change under us, so every function here answers "nothing" for a missing or
// unreadable directory and never throws.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::agents {

using std::filesystem::path;

// A harness's directory: $<env_var> when set and non-empty, else
// $HOME/<in_home>. nullopt when neither is known.
std::optional<path> harness_home(const char* env_var, std::string_view in_home);

// Claude Code's directory ($CLAUDE_CONFIG_DIR or ~/.claude) and Codex's
// ($CODEX_HOME or ~/.codex): transcripts, hook rows and settings live there.
std::optional<path> claude_code_home();
std::optional<path> codex_home();

// Session ids reach us from the environment and from hook payloads and then
// name files, so only ids that are plain file names are looked up.
bool is_safe_session_id(std::string_view id);

// Regular files directly in `dir` whose names start with `prefix` and end
// with `suffix`, sorted.
std::vector<path> files_in(const path& dir, std::string_view prefix, std::string_view suffix);
// Sub-directories of `dir`, sorted.
std::vector<path> dirs_in(const path& dir);
// files_in() of `root` and of its sub-directories down to `depth` levels.
std::vector<path> files_below(const path& root, int depth, std::string_view prefix, std::string_view suffix);

// A regular file (following links) that exists.
bool is_plain_file(const path& file);

// False when the file was last modified before `since` (seconds since the
// epoch) or cannot be examined; true when `since` is absent. Never opens it.
bool written_since(const path& file, std::optional<double> since);

}  // namespace tamrik::agents
