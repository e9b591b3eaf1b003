#pragma once
// Runs tool calls on a thread of their own, so the server goes on reading
// while a tool works: pings and cancellations are answered at once, even
// during a sync waiting on a silent platform.
//
// One call runs at a time (tools share the process's working state); a
// call that arrives meanwhile waits its turn, in arrival order. A cancelled
// call is never answered: dropped when still waiting, and when running, its
// network requests fail from then on, the one in flight included, so it
// ends soon after.

#include "synccore/synccore.hpp"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace tamrik::cli::mcp {

class ProtocolStream;

class ToolRunner {
 public:
  // Makes the answer to the call; runs on the runner's thread.
  using Job = std::function<core::Json()>;

  explicit ToolRunner(ProtocolStream& stream);
  // Lets the calls already given run and answer, then ends the thread.
  ~ToolRunner();
  ToolRunner(const ToolRunner&) = delete;
  ToolRunner& operator=(const ToolRunner&) = delete;

  void submit(const core::Json& id, Job job);
  // The request with this id goes unanswered; an unknown id is ignored (the
  // call may have been answered already).
  void cancel(const core::Json& id);

 private:
  struct Call {
    core::Json id;
    Job job;
  };

  void work();
  std::optional<Call> next_call();
  void finish_call(const core::Json& answer);

  ProtocolStream& stream_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Call> waiting_;
  std::optional<core::Json> running_;  // the id of the call running now
  bool running_cancelled_ = false;
  // Open while a cancelled call still runs: leaves its requests no time.
  std::optional<protocol::http_client::NetworkBudget> no_network_;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace tamrik::cli::mcp
