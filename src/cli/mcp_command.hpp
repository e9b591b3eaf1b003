#pragma once
// `tamrik mcp`: the agent tool server on stdin and stdout, which the agents
// registered by `tamrik setup` start themselves.

#include "attest/command_line.hpp"

namespace tamrik::cli {

void add_mcp_command(CLI::App& parent, attest::SelectedCommand& selected);

}  // namespace tamrik::cli
