// The platform requests under way, process-wide: requests run on worker
// threads too (the context fetches), and a display shows the oldest.

#include "host/protocol/requests_in_flight.hpp"

#include "host/protocol/http_client.hpp"

#include <mutex>

namespace tamrik::protocol::http_client {

namespace {

struct Registry {
  std::mutex mutex;
  std::uint64_t next_id = 0;
  std::map<std::uint64_t, RequestInFlight> under_way;  // in start order
  // Held while the observer runs, so it is never removed mid-call; never
  // taken with `mutex` held.
  std::mutex observer_mutex;
  std::function<void()> observer;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

RequestsInFlight requests_in_flight() {
  Registry& requests = registry();
  const std::lock_guard lock(requests.mutex);
  if (requests.under_way.empty()) return {};
  return {requests.under_way.begin()->second, requests.under_way.size()};
}

void on_requests_idle(std::function<void()> observer) {
  Registry& requests = registry();
  const std::lock_guard lock(requests.observer_mutex);
  requests.observer = std::move(observer);
}

namespace detail {

CountedRequest::CountedRequest(std::string method, std::string api_url, std::string path) {
  Registry& requests = registry();
  const std::lock_guard lock(requests.mutex);
  id_ = requests.next_id++;
  requests.under_way.emplace(
      id_, RequestInFlight{std::move(method), std::move(api_url), std::move(path), std::chrono::steady_clock::now()});
}

CountedRequest::~CountedRequest() {
  Registry& requests = registry();
  bool idle = false;
  {
    const std::lock_guard lock(requests.mutex);
    requests.under_way.erase(id_);
    idle = requests.under_way.empty();
  }
  if (!idle) return;
  const std::lock_guard lock(requests.observer_mutex);
  if (requests.observer) requests.observer();
}

}  // namespace detail

}  // namespace tamrik::protocol::http_client
