#include "attest/nudge.hpp"

#include "synccore/synccore.hpp"

#include <unistd.h>

#include <cstdio>

namespace tamrik::attest {

namespace {

constexpr std::string_view kMismatchWord = " diff_hash_mismatch";

std::string marker_text(std::string_view commit, NudgeReason reason) {
  return std::string(commit) + (reason == NudgeReason::mismatched ? std::string(kMismatchWord) : "") + "\n";
}

}  // namespace

std::string _nudge_message(std::string_view commit, NudgeReason reason) {
  const std::string short_hash(commit.substr(0, kNudgeHashLength));
  if (reason == NudgeReason::mismatched) {
    return "tamrik filed the pending attestation on commit " + short_hash +
           ", but its staged_diff_hash does not match that commit's change (files staged after `tamrik attest`?). "
           "If it no longer describes the commit, write .tamrik/.commit-attestation.yaml anew for it (format: "
           "`tamrik attest --example`), then run `tamrik attest add --commit " +
           short_hash + "` to replace it.";
  }
  return "tamrik recorded commit " + short_hash +
         " without an attestation. Write .tamrik/.commit-attestation.yaml for it (format: `tamrik attest "
         "--example`), then run `tamrik attest add --commit " +
         short_hash + "` to attach it. Skip if this commit was intentionally unattested.";
}

void _nudge(std::string_view commit, NudgeReason reason) {
  const std::optional<core::Json> output =
      commands::render_hook_context("claude-code", "PostToolUse", _nudge_message(commit, reason));
  if (!output) return;
  const std::string line = core::to_json_compact(*output) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

path unattested_head_marker(const path& work_tree) { return paths::tamrik_dir(work_tree) / ".unattested-head"; }

void mark_unattested_head(const path& work_tree, std::string_view commit, NudgeReason reason) {
  const path marker = unattested_head_marker(work_tree);
  core::make_dirs(marker.parent_path());
  core::replace_file_atomically(marker, marker_text(commit, reason), core::Durability::no_flush,
                                core::ReplacedMode::keep_target);
}

void clear_unattested_head(const path& work_tree) { core::remove_file(unattested_head_marker(work_tree)); }

std::optional<NudgeReason> claim_unattested_head(const path& work_tree, std::string_view commit) {
  const path marker = unattested_head_marker(work_tree);
  const std::optional<std::string> text = core::try_read_file(marker, core::kSmallFileCap);
  if (!text || commit.empty()) return std::nullopt;
  for (const NudgeReason reason : {NudgeReason::unattested, NudgeReason::mismatched}) {
    if (*text == marker_text(commit, reason)) {
      return core::remove_file(marker) == 0 ? std::optional(reason) : std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace tamrik::attest
