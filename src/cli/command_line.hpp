#pragma once
// The `tamrik` command line: parses the arguments, runs the one command they
// name with the console it is given, and turns what escapes it into an exit
// status. Every command's options are described here, and nowhere else.
//
// Exit status: the command's own (0 done, 1 a failure it reports); 2 for a
// usage error, with the command's usage line and the message on the
// console's stderr; 1 with a message for any other error.

#include "synccore/synccore.hpp"

namespace tamrik::cli {

int run_command_line(int argc, const char* const* argv, const display::output::Console& console);

}  // namespace tamrik::cli
