#include "cli/mcp/output_capture.hpp"

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace tamrik::cli::mcp {

namespace {

// Points descriptors 1 and 2 at `target` while alive.
class Redirect {
 public:
  explicit Redirect(int target) : saved_out_(saved_copy(1)), saved_err_(saved_copy(2)) {
    if (saved_out_ < 0 || saved_err_ < 0) throw std::runtime_error("cannot save the output streams");
    flush();
    ::dup2(target, 1);
    ::dup2(target, 2);
  }
  ~Redirect() {
    flush();
    ::dup2(saved_out_, 1);
    ::dup2(saved_err_, 2);
    ::close(saved_out_);
    ::close(saved_err_);
  }
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;

 private:
  // Not inherited by the children the body starts.
  static int saved_copy(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }
  static void flush() {
    std::fflush(stdout);
    std::fflush(stderr);
  }
  int saved_out_;
  int saved_err_;
};

std::string read_all(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  return text;
}

}  // namespace

Captured capture_output(const std::function<int()>& body) {
  // tmpfile() is unlinked already: nothing is left behind, whatever happens.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> scratch(std::tmpfile(), &std::fclose);
  if (!scratch) throw std::runtime_error("cannot create a scratch file for the tool's output");
  Captured captured;
  {
    Redirect redirect(::fileno(scratch.get()));
    captured.status = body();
  }
  captured.text = read_all(scratch.get());
  return captured;
}

}  // namespace tamrik::cli::mcp
