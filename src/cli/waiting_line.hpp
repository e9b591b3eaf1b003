#pragma once
// While a command waits on the platform, one line on stderr says which
// request it waits for, for how long, and when it gives up; the line is
// rewritten in place each second and wiped as soon as no request is under
// way, before the command prints anything else. Only on a terminal: where
// stderr is a file or a pipe nothing is written.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

namespace tamrik::cli {

class WaitingLine {
 public:
  // Shows the line when `wanted` and stderr is a terminal.
  explicit WaitingLine(bool wanted);
  ~WaitingLine();
  WaitingLine(const WaitingLine&) = delete;
  WaitingLine& operator=(const WaitingLine&) = delete;

 private:
  void redraw_each_second();
  void draw();  // with mutex_ held
  void wipe();  // with mutex_ held

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::size_t shown_ = 0;  // characters of the line on the terminal now
  std::string drawn_;      // the text last drawn
  std::thread thread_;
};

}  // namespace tamrik::cli
