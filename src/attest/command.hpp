#pragma once
// The `tamrik attest` command group and its `add` subcommand as the host's
// command line mounts them: options, help texts, and which body runs.

#include "attest/command_line.hpp"

namespace tamrik::attest {

// Adds `attest` (with `attest add`) to `parent`. After a successful parse,
// `selected` holds the body the command line named.
void add_attest_command(CLI::App& parent, SelectedCommand& selected);

}  // namespace tamrik::attest
