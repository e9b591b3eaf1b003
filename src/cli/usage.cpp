#include "cli/usage.hpp"

#include "host/display/output.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace tamrik::cli {

namespace {

// "tamrik attest add": the names from the root down to `command`.
std::string command_path(const CLI::App& command) {
  const CLI::App* parent = command.get_parent();
  return parent == nullptr ? command.get_name() : command_path(*parent) + " " + command.get_name();
}

}  // namespace

int report_usage_error(const CLI::App& command, std::string_view message) {
  const std::string path = command_path(command);
  const std::string usage = CLI::Formatter().make_usage(&command, path);
  const std::string hint = "Try '" + path + " --help' for help.\n\n";
  std::fflush(stdout);
  std::fputs(usage.c_str(), stderr);
  std::fputs(hint.c_str(), stderr);
  display::output::console().error("Error: " + std::string(message));
  return 2;
}

const CLI::App& deepest_command(const CLI::App& root) {
  const CLI::App* command = &root;
  while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
  return *command;
}

}  // namespace tamrik::cli
