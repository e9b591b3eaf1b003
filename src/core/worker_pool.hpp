#pragma once
// Independent jobs run at once on a few threads: network fetches that each
// spend most of their time waiting on a server.

#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

namespace tamrik::core {

// Runs every job on at most `workers` threads (at least one) and returns
// when all are done. Jobs start in order; what a job throws is kept in its
// slot of the result (null for a job that finished), so one failure never
// stops the others.
std::vector<std::exception_ptr> run_on_workers(const std::vector<std::function<void()>>& jobs, std::size_t workers);

}  // namespace tamrik::core
