#pragma once
// The `tamrik` command line: parses the arguments, runs the one command they
// name, and turns what escapes it into an exit status.
//
// Exit status: the command's own (0 done, 1 a failure it reports); 2 for a
// usage error, with the command's usage line and the message on stderr; 1
// with a message for any other error.

namespace tamrik::cli {

int tool_main(int argc, char** argv);

}  // namespace tamrik::cli
