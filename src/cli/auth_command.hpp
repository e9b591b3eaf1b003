#pragma once
// `tamrik auth login | status | logout`: the user's sign-in to the
// platform, kept per user (never in a repository).

#include "attest/command_line.hpp"

namespace tamrik::cli {

void add_auth_command(CLI::App& parent, attest::SelectedCommand& selected);

}  // namespace tamrik::cli
