#pragma once
// Long output through the person's pager, as git does: only when stdout is
// a terminal; the command in $PAGER (run by the shell), or `less -FRX`
// when PAGER is unset and less is installed. An empty PAGER, or "cat",
// means no pager.

#include <sys/types.h>

#include <cstdio>

namespace tamrik::cli {

class Pager {
 public:
  // Sends stdout to the pager from here on, when there is one to start and
  // the command writes to it (`out`).
  explicit Pager(std::FILE* out);
  // Gives stdout back, ends the pager's input and waits until the person
  // has quit it.
  ~Pager();
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

 private:
  pid_t pid_ = -1;
  int saved_stdout_ = -1;
};

}  // namespace tamrik::cli
