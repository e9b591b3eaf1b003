#pragma once
// `tamrik hook ...`: the entries agent harnesses run from their hook rows.
// Each reads the harness's payload from stdin, prints only what the harness
// reads, and always exits 0.

#include "attest/command_line.hpp"

namespace tamrik::cli {

void add_hook_command(CLI::App& parent, attest::SelectedCommand& selected);

}  // namespace tamrik::cli
