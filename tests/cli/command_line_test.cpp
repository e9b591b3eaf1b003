// The command line run in process, with a console in memory, says what the
// built executable says, byte for byte: on stdout and stderr together, with
// the same exit status, for a report, a usage error and --help.

#include "cli/command_line.hpp"
#include "cli_fixture.hpp"
#include "host/display/output.hpp"

namespace tamrik::testing {
namespace {

class CommandLine : public CliTest {
 protected:
  // Runs `args` in process from the repository, as the executable would.
  TamrikResult run_in_process(const std::vector<std::string>& args) {
    const fs::path saved = fs::current_path();
    fs::current_path(repo_.root());
    std::vector<const char*> argv = {"tamrik"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    const display::output::BufferedConsole console;
    const int status = cli::run_command_line(static_cast<int>(argv.size()), argv.data(), console.console());
    fs::current_path(saved);
    return {.exit_code = status, .out = console.text()};
  }
};

TEST_F(CommandLine, InProcessGivesTheExecutablesBytes) {
  set_up_repository();
  write_text(tamrik_dir() / "log.jsonl", R"({"commit":")" + std::string(40, 'a') +
                                             R"(","agent":"codex","timestamp":"2026-03-01T12:00:00Z"})"
                                             "\n"
                                             "not a record\n");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"stats", "--json"}, {"status", "--json"}, {"stats"}, {"log", "--since", "someday"}, {"show", "--help"}}) {
    const TamrikResult spawned = tamrik(args);
    const TamrikResult in_process = run_in_process(args);
    EXPECT_EQ(in_process.exit_code, spawned.exit_code) << args[0];
    EXPECT_EQ(in_process.out, spawned.out + spawned.err) << args[0];
    EXPECT_FALSE(in_process.out.empty()) << args[0];
  }
}

}  // namespace
}  // namespace tamrik::testing
