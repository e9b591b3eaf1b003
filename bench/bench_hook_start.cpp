// Start-up cost of the agent hook. Claude Code runs `tamrik attest add
// --from-hook` after every tool call an agent makes; almost all of those
// calls are not a git commit, and the hook must cost little more than
// starting any C++ program. The yardstick is a trivial program with the C++
// runtime linked dynamically; the target is a median ratio of at most 2.
//
//   bench_hook_start [rounds]      (default 40, interleaved, after 5 warm-ups)

#include "bench_repo.hpp"
#include "process_timer.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;
using tamrik::bench::Command;

// A Read tool call's payload carrying `content_bytes` of the file it read,
// shaped as Claude Code sends it.
std::string read_payload(size_t content_bytes) {
  return R"({"session_id":"3f0c9a1e-5b7d-4c2a-9e8f-1a2b3c4d5e6f","transcript_path":"/home/dev/.claude/projects/-home-dev-app/3f0c9a1e.jsonl","cwd":"/home/dev/app","permission_mode":"default","hook_event_name":"PostToolUse","tool_name":"Read","tool_input":{"file_path":"/home/dev/app/src/server.cpp"},"tool_response":{"type":"text","file":{"filePath":"/home/dev/app/src/server.cpp","content":")" +
         std::string(content_bytes, 'x') +
         R"(","numLines":120,"startLine":1,"totalLines":120}},"tool_use_id":"toolu_01ABC"})";
}

std::string bash_payload(const std::string& command) {
  return R"({"session_id":"3f0c9a1e-5b7d-4c2a-9e8f-1a2b3c4d5e6f","cwd":"/home/dev/app","hook_event_name":"PostToolUse","tool_name":"Bash","tool_input":{"command":")" +
         command +
         R"(","description":"Show the working tree status"},"tool_response":{"stdout":"On branch main\nnothing to commit","stderr":"","interrupted":false,"isImage":false},"tool_use_id":"toolu_01DEF"})";
}

fs::path write_file(const fs::path& dir, const std::string& name, const std::string& text) {
  const fs::path file = dir / name;
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = static_cast<int>(tamrik::bench::count_argument(argc, argv, 40));
  char dir_template[] = "/tmp/tamrik-bench-hook-XXXXXX";
  const fs::path dir = mkdtemp(dir_template);

  const std::vector<std::string> hook = {TAMRIK_BINARY, "attest", "add", "--from-hook", "--agent", "claude-code"};
  const std::vector<Command> commands = {
      {"trivial C++ program (dynamic libstdc++)", {TRIVIAL_PROGRAM}},
      {"hook: Read payload, 2 KB", hook, write_file(dir, "read-2k.json", read_payload(1700))},
      {"hook: Bash `git status` payload", hook, write_file(dir, "bash.json", bash_payload("git status"))},
      {"hook: Read payload, 260 KB", hook, write_file(dir, "read-260k.json", read_payload(260 * 1024))},
  };

  std::map<std::string, std::vector<double>> wall, cpu;
  for (int round = -5; round < rounds; ++round) {
    for (const Command& command : commands) {
      const tamrik::bench::Timing timing = tamrik::bench::time_once(command);
      if (round < 0) continue;
      wall[command.name].push_back(timing.wall);
      cpu[command.name].push_back(timing.cpu);
    }
  }

  for (const auto& [what, samples] : {std::pair{"wall", &wall}, std::pair{"CPU (user + system)", &cpu}}) {
    std::printf("Whole-process %s time, %d interleaved rounds (median, min-max):\n", what, rounds);
    const double yardstick = tamrik::bench::summarise((*samples)[commands[0].name]).median;
    for (const Command& command : commands) {
      const tamrik::bench::Summary summary = tamrik::bench::summarise((*samples)[command.name]);
      std::printf("  %s   %.2fx\n", tamrik::bench::describe(command.name, summary).c_str(), summary.median / yardstick);
    }
  }
  std::printf("Target: the 2 KB payload within 2x the trivial program.\n");
  fs::remove_all(dir);
  return 0;
}
