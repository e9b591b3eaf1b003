#pragma once
// `tamrik sync`: the full sync (sync_run_command.hpp), and `tamrik sync
// --record-commit`, what the git post-commit hook runs.

#include "attest/command_line.hpp"

namespace tamrik::cli {

void add_sync_command(CLI::App& parent, attest::SelectedCommand& selected);

}  // namespace tamrik::cli
