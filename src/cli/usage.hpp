#pragma once
// How a usage error is shown: the command's usage line, where to find its
// help, and the message, all on stderr.

#include <string_view>

namespace CLI {
class App;
}

namespace tamrik::cli {

// Prints the usage error for `command` and returns the exit status, 2.
int report_usage_error(const CLI::App& command, std::string_view message);

// The command a failed parse got to: the deepest subcommand seen.
const CLI::App& deepest_command(const CLI::App& root);

}  // namespace tamrik::cli
