#pragma once
// Where the tool server's answers go: its own copy of the stdout it was
// started with. Tool bodies point descriptors 1 and 2 elsewhere while they
// run (output_capture.hpp), and answers to pings go out meanwhile from
// another thread, so no answer is ever written through descriptor 1.

#include "synccore/synccore.hpp"

#include <atomic>
#include <mutex>

namespace tamrik::cli::mcp {

class ProtocolStream {
 public:
  // Takes stdout for the protocol and points descriptor 1 at stderr, so
  // nothing else can write into the stream. Check usable() after.
  ProtocolStream();
  ~ProtocolStream();
  ProtocolStream(const ProtocolStream&) = delete;
  ProtocolStream& operator=(const ProtocolStream&) = delete;

  bool usable() const { return fd_ >= 0; }

  // Writes one message as one line; callable from any thread. False once
  // the client has stopped reading (broken() then stays true).
  bool send(const core::Json& message);
  bool broken() const { return broken_; }

 private:
  int fd_;
  std::mutex mutex_;  // one message at a time, never two interleaved
  std::atomic<bool> broken_{false};
};

}  // namespace tamrik::cli::mcp
