#pragma once
// The `tamrik` executable: the hook entries' fast path, else the full
// command line (command_line.hpp) on the process's console.

namespace tamrik::cli {

int tool_main(int argc, char** argv);

}  // namespace tamrik::cli
