#pragma once
// The catch-up walk at session start: records every commit of this
// developer's since the last recorded one that no hook saw, newest first,
// attributing each to an agent session only when exactly one session on
// this machine matches it. A teammate's commits are left to their own clone.

#include "host/services/checkout.hpp"
#include "synccore/recording_result.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tamrik::synccore {

using services::Checkout;
using std::filesystem::path;

constexpr int kCatchUpLimit = 50;

// Walks the checkout's HEAD into its home's ledger, so commits another
// worktree recorded stop the walk like any other. Does nothing in a
// repository never set up. Never throws.
std::vector<BackfillResult> catch_up_commits(const Checkout& checkout, int limit = kCatchUpLimit);

// The same walk from a just-recorded commit's `parents` down, for the
// commits that landed unrecorded under it: when several processes commit in
// one checkout, a post-commit hook may find HEAD already moved on to a
// later commit. Only commits made since setup are walked. Nothing happens
// (and no lock is taken) when every parent is recorded or the repository
// was never set up. Never throws.
std::vector<BackfillResult> catch_up_below(const Checkout& checkout, const std::vector<std::string>& parents);

// The walk itself; the caller holds the ledger lock.
std::vector<BackfillResult> _walk_and_record(const Checkout& checkout, int limit);

bool _nothing_recorded_yet(const path& repo_root);
// When tamrik was set up here (seconds since the epoch, whole), or nullopt.
std::optional<double> _config_anchor(const path& repo_root);
std::optional<double> _installed_at(const path& repo_root);

}  // namespace tamrik::synccore
