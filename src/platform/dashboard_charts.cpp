// The charts page of pages:: (dashboard_pages.hpp): a project's weekly
// commits by agent, its attested share by week and its tokens by model.

#include "core/time_text.hpp"
#include "platform/dashboard_frame.hpp"
#include "platform/svg_chart.hpp"

#include <algorithm>
#include <map>

namespace tamrik::platform::pages {

namespace {

constexpr size_t kAgentsShown = 6;  // the rest are one "other"
constexpr size_t kModelsShown = 10;

std::string week_label(int64_t week) { return core::format_utc(static_cast<std::time_t>(week)).substr(5, 5); }

// The weeks from the first counted to the newest, empty ones included
// (the storage counts kChartWeeks of them at most).
std::vector<int64_t> weeks_shown(const std::vector<WeekOfAgent>& rows) {
  std::vector<int64_t> weeks;
  for (int64_t week = rows.front().week; week <= rows.back().week; week += kWeekSeconds) weeks.push_back(week);
  return weeks;
}

// The agents with most commits in the weeks shown, by name.
std::vector<std::string> leading_agents(const std::vector<WeekOfAgent>& rows, int64_t first_week) {
  std::map<std::string, long long> commits;
  for (const WeekOfAgent& row : rows) {
    if (row.week >= first_week) commits[row.agent] += row.commits;
  }
  std::vector<std::pair<std::string, long long>> ranked(commits.begin(), commits.end());
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::vector<std::string> agents;
  for (size_t i = 0; i < ranked.size() && i < kAgentsShown; ++i) agents.push_back(ranked[i].first);
  std::sort(agents.begin(), agents.end());
  return agents;
}

std::string agent_label(const std::string& agent) { return agent.empty() ? "(none)" : agent; }

void weekly_charts(html::Builder& out, const std::vector<WeekOfAgent>& rows) {
  const std::vector<int64_t> weeks = weeks_shown(rows);
  std::vector<std::string> labels;
  for (const int64_t week : weeks) labels.push_back(week_label(week));
  const std::vector<std::string> agents = leading_agents(rows, weeks.front());
  std::vector<svg::Series> series;
  for (const std::string& agent : agents) series.push_back({agent_label(agent), std::vector<double>(weeks.size())});
  svg::Series other{"other", std::vector<double>(weeks.size())};
  std::vector<double> commits(weeks.size()), attested(weeks.size());
  for (const WeekOfAgent& row : rows) {
    if (row.week < weeks.front()) continue;
    const auto at = static_cast<size_t>((row.week - weeks.front()) / kWeekSeconds);
    const auto agent = std::lower_bound(agents.begin(), agents.end(), row.agent);
    svg::Series& into =
        agent != agents.end() && *agent == row.agent ? series[static_cast<size_t>(agent - agents.begin())] : other;
    into.values[at] += static_cast<double>(row.commits);
    commits[at] += static_cast<double>(row.commits);
    attested[at] += static_cast<double>(row.attested);
  }
  if (std::any_of(other.values.begin(), other.values.end(), [](double v) { return v > 0; })) series.push_back(other);
  out.element("h2", "Commits per week, by agent");
  out.markup(svg::stacked_bars("Commits per week, by agent", labels, series));

  // A week without commits has no share to draw.
  std::vector<std::string> share_labels;
  std::vector<double> shares;
  for (size_t i = 0; i < weeks.size(); ++i) {
    if (commits[i] == 0) continue;
    share_labels.push_back(labels[i]);
    shares.push_back(attested[i] / commits[i]);
  }
  out.element("h2", "Attested share per week");
  out.markup(svg::share_line("Attested share per week", share_labels, shares));
}

void token_chart(html::Builder& out, std::vector<TokensOfModel> models) {
  const auto total = [](const TokensOfModel& m) {
    return static_cast<double>(m.tokens.input) + static_cast<double>(m.tokens.output) +
           static_cast<double>(m.tokens.cache);
  };
  std::stable_sort(models.begin(), models.end(), [&](const auto& a, const auto& b) { return total(a) > total(b); });
  if (models.size() > kModelsShown) models.resize(kModelsShown);
  std::vector<std::string> labels;
  svg::Series input{"input", {}}, output{"output", {}}, cache{"cache", {}};
  for (const TokensOfModel& model : models) {
    labels.push_back(model.model.empty() ? "(unnamed)" : model.model);
    input.values.push_back(static_cast<double>(model.tokens.input));
    output.values.push_back(static_cast<double>(model.tokens.output));
    cache.values.push_back(static_cast<double>(model.tokens.cache));
  }
  out.element("h2", "Tokens per model");
  out.markup(svg::stacked_bars("Tokens per model", labels, {input, output, cache}));
}

}  // namespace

std::string charts(const Viewer& viewer, const Project& project, const ProjectTotals& totals) {
  html::Builder out = page("Charts · " + project.title, viewer);
  project_heading(out, project, "Charts");
  if (totals.weeks.empty()) {
    out.element("p", "No record with a readable date yet.", {{"class", "empty"}});
  } else {
    long long commits = 0, attested = 0;
    for (const WeekOfAgent& row : totals.weeks) {
      commits += row.commits;
      attested += row.attested;
    }
    out.element("p",
                std::to_string(commits) + " commits recorded in the weeks shown, " +
                    std::to_string(attested * 100 / commits) + " % of them attested.",
                {{"class", "totals"}});
    weekly_charts(out, totals.weeks);
  }
  if (!totals.models.empty()) token_chart(out, totals.models);
  return close_page(out);
}

}  // namespace tamrik::platform::pages
