#pragma once
// The agent hook path: `tamrik attest add --from-hook`, which an agent
// harness runs after every tool call with the call's payload on stdin.
//
// It acts only on a finished `git commit` run through the Bash tool, in a
// repository where tamrik is set up, right after HEAD moved: it records
// HEAD for the payload's session, uploads unsent records within a hard time
// budget, and tells the agent once when that commit carried no attestation.
// Whatever happens it returns normally, and the only thing it ever writes
// to stdout is that nudge, which the harness parses.

#include "synccore/synccore.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::attest {

using core::Json;
using std::filesystem::path;

// A shell command that runs `git commit`: searched anywhere in the command,
// case-sensitive, not across a line break.
inline constexpr std::string_view _GIT_COMMIT_RE = R"(\bgit\b.*\bcommit\b)";
// HEAD counts as just made when its committer time is at most this old.
inline constexpr long _FRESH_HEAD_SECONDS = 1800;
// Network time budget of the hook's upload, in seconds.
inline constexpr double _HOOK_UPLOAD_BUDGET = 5.0;

// The hook path; `agent` is the --agent of the harness's row. Never throws.
void _add_from_hook(const std::optional<std::string>& agent);

// False when the payload text cannot decode to a Bash call whose command
// matches _GIT_COMMIT_RE: it lacks one of "Bash", "git", "commit" and has no
// \u escape that could spell them. Lets the hook skip decoding the large
// payloads of other tools (a Read carries the whole file it read).
bool _may_be_git_commit_payload(std::string_view text);

// Whether `command` matches _GIT_COMMIT_RE. Matched by a linear scan with
// the pattern's meaning (a word character is a letter, digit, underscore or
// any non-ASCII byte): std::regex recurses per character and would overflow
// the stack on the long commands agents run (heredocs of whole files).
bool _is_git_commit(std::string_view command);

// The Bash call did not complete cleanly: `tool_response.interrupted` is
// true, or its `exit_code` (else `exitCode`) is a non-zero integer.
bool _tool_failed(const Json& payload);

// The nearest directory at or above `start` holding a ".git" entry (a
// directory, or a file in a worktree), or nullopt. `start` is not resolved.
std::optional<path> _repo_root_for(const path& start);

// The checkout around `start` when its repository home is set up, else
// nullopt: where every hook entry records, from any worktree, without
// running git.
std::optional<services::Checkout> _set_up_checkout_for(const path& start);

// The HEAD of `work_tree` has a committer time at most _FRESH_HEAD_SECONDS
// before now, and not in the future. `now` is seconds since the epoch.
bool _head_is_fresh(const path& work_tree);
bool _head_is_fresh(const path& work_tree, double now);

// Uploads unsent records when the repository resolves from disk (signed in
// and linked), within _HOOK_UPLOAD_BUDGET.
void _upload_from_disk(const path& repo_root);

}  // namespace tamrik::attest
