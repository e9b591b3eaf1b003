#include "cli/mcp/server.hpp"

#include "cli/mcp/dispatcher.hpp"
#include "cli/mcp/line_reader.hpp"
#include "cli/mcp/protocol_stream.hpp"
#include "cli/mcp/tool_runner.hpp"
#include "synccore/synccore.hpp"

namespace tamrik::cli::mcp {

namespace {

const core::Logger server_logger("mcp");

// Reads and answers until the end of input or until the client stops
// reading; tool calls go to `runner`, which answers them on its own.
void read_messages(ProtocolStream& stream, Dispatcher& dispatcher) {
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
    if (answer) stream.send(*answer);
    if (stream.broken()) return;
  }
}

}  // namespace

int serve(const std::string& version) {
  ProtocolStream stream;
  if (!stream.usable()) return 1;
  {
    // The calls given before the end of input still run and are answered.
    ToolRunner runner(stream);
    Dispatcher dispatcher(all_tools(), version, runner);
    read_messages(stream, dispatcher);
  }
  if (stream.broken()) {
    server_logger.warning("The client stopped reading; the tool server ends.");
    return 1;
  }
  return 0;
}

}  // namespace tamrik::cli::mcp
