#pragma once
// `tamrik stats [--since DATE] [--until DATE] [--by GROUP] [--json]`: the
// records counted per agent, model, developer, task type or week: commits,
// the share made by agents and the share attested, tokens in all and per
// attested commit. On a terminal each row has a bar of its commits.
//
// --json: {by, since, until, total, groups: [{group, ...}], corrupt}, each
// count object {commits, by_agents, attested, agent_share, attested_share,
// tokens, attested_tokens, tokens_per_attested_commit}; tokens are
// {input, output, cache}; a share or per-commit figure with nothing to
// divide by is null.

#include "synccore/synccore.hpp"

#include <optional>
#include <string>

namespace tamrik::cli {

struct StatsOptions {
  std::string by = "agent";  // agent, model, developer, task-type or week
  std::optional<std::string> since, until;
  bool json = false;
};

int run_stats(const StatsOptions& options, const display::output::Console& console);

}  // namespace tamrik::cli
