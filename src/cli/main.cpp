#include "cli/tool_main.hpp"

int main(int argc, char** argv) { return tamrik::cli::tool_main(argc, argv); }
