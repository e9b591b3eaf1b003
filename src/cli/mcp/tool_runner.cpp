#include "cli/mcp/tool_runner.hpp"

#include "cli/mcp/protocol_stream.hpp"

#include <algorithm>

namespace tamrik::cli::mcp {

using core::Json;

ToolRunner::ToolRunner(ProtocolStream& stream) : stream_(stream), thread_([this] { work(); }) {}

ToolRunner::~ToolRunner() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
    // Nobody reads the answer of the call still running: stop it.
    if (running_ && stream_.broken()) {
      running_cancelled_ = true;
      no_network_.emplace(std::chrono::milliseconds(0));
    }
  }
  wake_.notify_one();
  thread_.join();
}

void ToolRunner::submit(const Json& id, Job job) {
  {
    const std::lock_guard lock(mutex_);
    waiting_.push_back({id, std::move(job)});
  }
  wake_.notify_one();
}

void ToolRunner::cancel(const Json& id) {
  const std::lock_guard lock(mutex_);
  if (running_ == id && !running_cancelled_) {
    running_cancelled_ = true;
    no_network_.emplace(std::chrono::milliseconds(0));
    return;
  }
  const auto found = std::find_if(waiting_.begin(), waiting_.end(), [&id](const Call& call) { return call.id == id; });
  if (found != waiting_.end()) waiting_.erase(found);
}

std::optional<ToolRunner::Call> ToolRunner::next_call() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
  // A client that stopped reading gets no more answers: nothing is run for it.
  if (waiting_.empty() || stream_.broken()) return std::nullopt;
  Call call = std::move(waiting_.front());
  waiting_.pop_front();
  running_ = call.id;
  running_cancelled_ = false;
  return call;
}

void ToolRunner::finish_call(const Json& answer) {
  bool cancelled = false;
  {
    const std::lock_guard lock(mutex_);
    cancelled = running_cancelled_;
    running_.reset();
    no_network_.reset();
  }
  if (!cancelled) stream_.send(answer);
}

void ToolRunner::work() {
  while (std::optional<Call> call = next_call()) finish_call(call->job());
}

}  // namespace tamrik::cli::mcp
