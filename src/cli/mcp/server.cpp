#include "cli/mcp/server.hpp"

#include "cli/mcp/dispatcher.hpp"
#include "cli/mcp/line_reader.hpp"
#include "core/log.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tamrik::cli::mcp {

namespace {

const core::Logger logger("mcp");

bool write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

bool send(int fd, const Json& message) {
  return write_all(fd, message.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
}

// Keeps the protocol's own copy of stdout and points descriptor 1 at
// stderr, so nothing else can write into the stream. The copy is not
// inherited: a child left running must not hold the client's pipe open.
int take_protocol_stream() {
  const int protocol = ::fcntl(1, F_DUPFD_CLOEXEC, 0);
  if (protocol >= 0) ::dup2(2, 1);
  return protocol;
}

}  // namespace

int serve(const std::string& version) {
  const int protocol = take_protocol_stream();
  if (protocol < 0) return 1;
  const Dispatcher dispatcher(all_tools(), version);
  LineReader reader(0, kMaxMessageBytes);
  while (const std::optional<Line> line = reader.next()) {
    std::optional<Json> answer;
    if (line->too_long) {
      answer = error_response(nullptr, kInvalidRequest, "Invalid Request: message larger than 8 MiB, skipped");
    } else if (line->text.find_first_not_of(" \t\r") == std::string::npos) {
      continue;  // blank lines carry no message
    } else {
      answer = dispatcher.handle_line(line->text);
    }
    if (answer && !send(protocol, *answer)) {
      logger.warning("The client stopped reading; the tool server ends.");
      ::close(protocol);
      return 1;
    }
  }
  ::close(protocol);
  return 0;
}

}  // namespace tamrik::cli::mcp
