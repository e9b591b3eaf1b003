#pragma once
// `tamrik setup`: set tamrik up in the current repository (idempotent),
// `tamrik setup project <id>` to also link it to a platform project, and
// `tamrik setup --uninstall` to take away what setup added.

#include "attest/command_line.hpp"

namespace tamrik::cli {

void add_setup_command(CLI::App& parent, attest::SelectedCommand& selected);

}  // namespace tamrik::cli
