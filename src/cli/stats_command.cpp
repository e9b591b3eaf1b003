#include "cli/stats_command.hpp"

#include "cli/record_text.hpp"
#include "synccore/synccore.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

namespace tamrik::cli {

namespace {

using core::Json;
using display::output::Console;
using synccore::GroupCounts;
using synccore::TokenCounts;

constexpr size_t kBarWidth = 20;
constexpr size_t kWidestGroup = 32;

Json share(uint64_t part, uint64_t whole) { return whole == 0 ? Json() : Json(static_cast<double>(part) / whole); }

Json tokens_json(const TokenCounts& tokens) {
  return {{"input", tokens.input}, {"output", tokens.output}, {"cache", tokens.cache}};
}

Json counts_json(const GroupCounts& counts) {
  Json per_attested;
  if (counts.attested > 0) {
    const auto per = [&](uint64_t total) { return static_cast<double>(total) / counts.attested; };
    per_attested = {{"input", per(counts.attested_tokens.input)},
                    {"output", per(counts.attested_tokens.output)},
                    {"cache", per(counts.attested_tokens.cache)}};
  }
  return {{"commits", counts.commits},
          {"by_agents", counts.by_agents},
          {"attested", counts.attested},
          {"agent_share", share(counts.by_agents, counts.commits)},
          {"attested_share", share(counts.attested, counts.commits)},
          {"tokens", tokens_json(counts.tokens)},
          {"attested_tokens", tokens_json(counts.attested_tokens)},
          {"tokens_per_attested_commit", per_attested}};
}

std::string percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(part) / whole);
  return text;
}

std::string per_commit(uint64_t total, uint64_t commits) {
  return commits == 0 ? "-" : std::to_string(total / commits);
}

// `value` of `most` as Unicode blocks, in eighths of a character.
std::string bar(uint64_t value, uint64_t most) {
  static const char* const kEighths[] = {"", "▏", "▎", "▍", "▌", "▋", "▊", "▉"};
  const uint64_t eighths = most == 0 ? 0 : value * kBarWidth * 8 / most;
  std::string text;
  for (uint64_t i = 0; i < eighths / 8; ++i) text += "█";
  text += kEighths[eighths % 8];
  text.resize(text.size() + kBarWidth - (eighths + 7) / 8, ' ');
  return text;
}

std::string padded(std::string text, size_t width, bool right) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

std::string row(const std::string& group, const GroupCounts& counts, size_t width,
                const std::optional<uint64_t>& most) {
  const TokenCounts& per = counts.attested_tokens;
  std::string line = padded(group, width, false) + padded(std::to_string(counts.commits), 9, true);
  if (most) line += "  " + bar(counts.commits, *most);
  return line + padded(percent(counts.by_agents, counts.commits), 11, true) +
         padded(percent(counts.attested, counts.commits), 10, true) +
         padded(std::to_string(counts.tokens.input), 13, true) +
         padded(std::to_string(counts.tokens.output), 12, true) +
         padded(std::to_string(counts.tokens.cache), 13, true) + "  " + per_commit(per.input, counts.attested) + " / " +
         per_commit(per.output, counts.attested) + " / " + per_commit(per.cache, counts.attested);
}

void print_text(const synccore::LedgerStats& stats, const StatsOptions& options, const Console& console) {
  const bool terminal = console.out_is_terminal();
  size_t width = options.by.size();
  std::vector<std::pair<std::string, const GroupCounts*>> rows;
  uint64_t most = 0;
  for (const auto& [group, counts] : stats.groups) {
    std::string label = shown(group.size() > kWidestGroup ? group.substr(0, kWidestGroup) : group);
    width = std::max(width, label.size());
    rows.emplace_back(std::move(label), &counts);
    most = std::max(most, counts.commits);
  }
  width += 2;
  const std::optional<uint64_t> bars = terminal ? std::optional<uint64_t>(most) : std::nullopt;
  std::string header = padded(options.by, width, false) + padded("commits", 9, true);
  if (bars) header += std::string(2 + kBarWidth, ' ');
  console.print(
      header +
      "  by agents  attested  input tokens  output tkns  cache tokens  per attested commit (in / out / cache)");
  for (const auto& [label, counts] : rows) console.print(row(label, *counts, width, bars));
  console.print(row("all", stats.total, width, bars));
  if (stats.corrupt > 0) {
    console.warning(std::to_string(stats.corrupt) +
                    " line(s) of .tamrik/log.jsonl are not records and are counted nowhere");
  }
}

}  // namespace

int run_stats(const StatsOptions& options, const Console& console) {
  const std::optional<services::Checkout> checkout = checkout_with_ledger(console);
  if (!checkout) return 1;
  const std::optional<synccore::StatsGroup> by = synccore::stats_group_named(options.by);
  synccore::RecordFilter filter;
  if (options.since) filter.since = date_option("--since", *options.since);
  if (options.until) filter.until = date_option("--until", *options.until);
  synccore::LedgerView view(checkout->home);
  const synccore::LedgerStats stats = synccore::count_ledger(view, *by, filter);
  if (!options.json) {
    print_text(stats, options, console);
    return 0;
  }
  Json groups = Json::array();
  for (const auto& [group, counts] : stats.groups) {
    Json item = {{"group", group}};
    item.update(counts_json(counts));
    groups.push_back(std::move(item));
  }
  console.print(json_text({{"by", options.by},
                           {"since", options.since ? Json(*options.since) : Json()},
                           {"until", options.until ? Json(*options.until) : Json()},
                           {"total", counts_json(stats.total)},
                           {"groups", groups},
                           {"corrupt", stats.corrupt}},
                          2));
  return 0;
}

}  // namespace tamrik::cli
