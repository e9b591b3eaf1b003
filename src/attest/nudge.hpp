#pragma once
// The nudge: what the agent is told, once, when a commit it made went into
// the ledger without an attestation, or with one whose staged diff hash
// does not match the commit's change.
//
// Two triggers see an agent's commit: the git post-commit hook, inside
// `git commit`, and the harness's post-tool hook, after the Bash call
// returns. The post-commit hook always comes first and writes the record,
// so it leaves the hash of an unattested commit in a marker file; the
// post-tool hook claims the marker for HEAD (removing it, so one run wins)
// and nudges. Without the marker the nudge could only follow a record the
// post-tool hook wrote itself, which never happens where setup installed
// the post-commit hook.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::attest {

using std::filesystem::path;

// Characters of the commit hash the nudge shows.
inline constexpr std::size_t kNudgeHashLength = 7;

enum class NudgeReason { unattested, mismatched };

// The message for `commit` (a full hash).
std::string _nudge_message(std::string_view commit, NudgeReason reason = NudgeReason::unattested);

// Prints the nudge for `commit` as the harness's PostToolUse output: one
// JSON document on one line on stdout.
void _nudge(std::string_view commit, NudgeReason reason = NudgeReason::unattested);

// .tamrik/.unattested-head of the checkout (not of the repository home: an
// agent in another worktree has its own commits to be nudged about): the
// hash of the last commit recorded there at commit time without an
// attestation (or with a mismatching one, said after the hash), until a
// hook nudges about it.
path unattested_head_marker(const path& work_tree);

// Records that `commit` was just recorded so. Throws OSError.
void mark_unattested_head(const path& work_tree, std::string_view commit, NudgeReason reason = NudgeReason::unattested);
// Removes the marker (the commit went in attested). Never throws.
void clear_unattested_head(const path& work_tree);
// Removes the marker when it names `commit`; its reason for the one caller
// that removed it, else nullopt. Never throws.
std::optional<NudgeReason> claim_unattested_head(const path& work_tree, std::string_view commit);

}  // namespace tamrik::attest
