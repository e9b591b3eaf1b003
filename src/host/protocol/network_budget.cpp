// The shared deadline of network_budget scopes: a process-wide set of the
// deadlines of the open scopes, of which the earliest applies.

#include "host/protocol/http_client.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace tamrik::protocol::http_client {

namespace {

using Clock = std::chrono::steady_clock;

struct OpenBudgets {
  std::mutex mutex;
  std::multiset<Clock::time_point> deadlines;
};

OpenBudgets& open_budgets() {
  static OpenBudgets budgets;
  return budgets;
}

}  // namespace

NetworkBudget::NetworkBudget(std::chrono::milliseconds total) {
  OpenBudgets& budgets = open_budgets();
  const std::lock_guard lock(budgets.mutex);
  entry_ = budgets.deadlines.insert(Clock::now() + total);
}

NetworkBudget::~NetworkBudget() {
  OpenBudgets& budgets = open_budgets();
  const std::lock_guard lock(budgets.mutex);
  budgets.deadlines.erase(entry_);
}

NetworkBudget network_budget(double seconds) {
  // NaN and negative budgets leave no time; a huge one is capped at a day.
  const double clamped = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, 86'400.0);
  return NetworkBudget(std::chrono::milliseconds(std::llround(clamped * 1000.0)));
}

std::optional<std::chrono::milliseconds> network_time_left() {
  OpenBudgets& budgets = open_budgets();
  const std::lock_guard lock(budgets.mutex);
  if (budgets.deadlines.empty()) return std::nullopt;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*budgets.deadlines.begin() - Clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

}  // namespace tamrik::protocol::http_client
