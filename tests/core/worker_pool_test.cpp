// The worker pool: every job runs once, on no more threads than asked, and
// one job's failure is kept without stopping the others.

#include "core/worker_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace tamrik::core {
namespace {

TEST(WorkerPool, RunsEveryJobOnceWithinTheWorkerLimitAndKeepsFailures) {
  std::atomic<int> running{0};
  std::atomic<int> most{0};
  std::vector<std::atomic<int>> runs(20);
  std::vector<std::function<void()>> jobs;
  for (size_t i = 0; i < runs.size(); ++i) {
    jobs.push_back([&, i] {
      const int now = ++running;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ++runs[i];
      --running;
      if (i % 7 == 3) throw std::runtime_error("job " + std::to_string(i));
    });
  }

  const std::vector<std::exception_ptr> failures = run_on_workers(jobs, 6);

  ASSERT_EQ(failures.size(), jobs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i], 1) << "job " << i;
    EXPECT_EQ(failures[i] != nullptr, i % 7 == 3) << "job " << i;
  }
  EXPECT_LE(most, 6);
  EXPECT_GT(most, 1) << "the jobs did run side by side";
}

TEST(WorkerPool, NoJobsAndZeroWorkersAreFine) {
  EXPECT_TRUE(run_on_workers({}, 6).empty());
  int ran = 0;
  EXPECT_EQ(run_on_workers({[&] { ++ran; }}, 0).size(), 1u);
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace tamrik::core
