#include "core/worker_pool.hpp"

#include <algorithm>
#include <atomic>
#include <thread>

namespace tamrik::core {

std::vector<std::exception_ptr> run_on_workers(const std::vector<std::function<void()>>& jobs, std::size_t workers) {
  std::vector<std::exception_ptr> failures(jobs.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < jobs.size(); i = next++) {
      try {
        jobs[i]();
      } catch (...) {
        failures[i] = std::current_exception();
      }
    }
  };
  const std::size_t threads = std::clamp<std::size_t>(workers, 1, std::max<std::size_t>(jobs.size(), 1));
  std::vector<std::jthread> pool;
  pool.reserve(threads - 1);
  // This thread is one of the workers, so a single job starts no thread.
  for (std::size_t i = 1; i < threads; ++i) pool.emplace_back(work);
  work();
  return failures;
}

}  // namespace tamrik::core
