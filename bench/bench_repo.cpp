#include "bench_repo.hpp"

#include "process_timer.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace tamrik::bench {

namespace fs = std::filesystem;

BenchHome::BenchHome(std::string_view name) {
  std::string dir_template = "/tmp/tamrik-bench-" + std::string(name) + "-XXXXXX";
  if (mkdtemp(dir_template.data()) == nullptr) throw std::runtime_error("cannot make a temporary directory");
  dir_ = dir_template;
  fs::create_directories(dir_ / "home");
  ::setenv("HOME", (dir_ / "home").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir_ / "home" / ".config").c_str(), 1);
  ::setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
  for (const char* variable :
       {"CLAUDECODE", "CLAUDE_CODE_SESSION_ID", "CODEX_THREAD_ID", "GEMINI_CLI", "CURSOR_AGENT"}) {
    ::unsetenv(variable);
  }
}

BenchHome::~BenchHome() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

long count_argument(int argc, char** argv, long fallback) {
  const long given = argc > 1 ? std::atol(argv[1]) : 0;
  return given > 0 ? given : fallback;
}

void run(const fs::path& cwd, std::vector<std::string> argv) {
  time_once({"setup step", std::move(argv), "/dev/null", cwd});
}

std::string hex40(long n) {
  char text[41];
  std::snprintf(text, sizeof text, "%016lx%024lx", n * 2654435761L, n);
  return text;
}

std::string ledger_line(long n) {
  std::string line = "{\"commit\": \"" + hex40(n) + "\", \"branch\": \"feature/ledger-" + std::to_string(n % 97) +
                     "\", \"timestamp\": \"2026-05-01T10:00:00Z\", ";
  if (n % 7 == 0) {
    line += "\"event\": \"commit_unattested\", \"reason\": \"unattested\", ";
  } else {
    line +=
        "\"agent\": \"claude-code\", \"agent_provider\": \"anthropic\", \"agent_session_id\": "
        "\"5f0c9a1e-7b2d-4c3e-9a8f-1d2e3f4a5b6c\", \"summary\": \"Add rate limiting to the upload client and "
        "retry on 503 responses\", \"staged_diff_hash\": \"" +
        hex40(n + 7) + hex40(n + 9).substr(0, 24) + "\", ";
  }
  line += "\"developer\": {\"git_author_name\": \"Dana Developer\", \"git_author_email\": \"dana@example.com\"}, ";
  line += n % 2 == 0 ? "\"synced\": true}\n" : "\"synced\": false}\n";
  return line;
}

void write_ledger(const fs::path& ledger, long lines) {
  std::ofstream out(ledger, std::ios::binary | std::ios::trunc);
  std::string block;
  for (long n = 0; n < lines; ++n) {
    block += ledger_line(n);
    if (block.size() > (1 << 20)) {
      out << block;
      block.clear();
    }
  }
  out << block;
  if (!out.flush()) throw std::runtime_error("cannot write " + ledger.string());
}

namespace {

std::string file_name(int n) { return "src/d" + std::to_string(n / 50) + "/f" + std::to_string(n) + ".txt"; }

// A fast-import command that sets `name` to `text`.
std::string inline_file(const std::string& name, const std::string& text) {
  return "M 644 inline " + name + "\ndata " + std::to_string(text.size()) + "\n" + text + "\n";
}

}  // namespace

void make_repo(const fs::path& root, int files, int commits) {
  fs::create_directories(root);
  run(root, {"git", "init", "-q", "-b", "main"});
  run(root, {"git", "config", "user.name", "Bench"});
  run(root, {"git", "config", "user.email", "bench@example.com"});
  const fs::path stream_file = root / ".git" / "bench-import";
  {
    std::ofstream stream(stream_file, std::ios::binary);
    for (int n = 0; n < commits; ++n) {
      const std::string message = "chore: change " + std::to_string(n) + "\n";
      stream << "commit refs/heads/main\ncommitter Bench <bench@example.com> " << 1700000000 + n << " +0000\ndata "
             << message.size() << "\n"
             << message;
      if (n == 0) {
        for (int f = 0; f < files; ++f)
          stream << inline_file(file_name(f), "line one of file " + std::to_string(f) + "\n");
      } else {
        stream << inline_file(file_name(n % files), "changed by commit " + std::to_string(n) + "\n");
      }
      stream << "\n";
    }
  }
  time_once({"git fast-import", {"git", "fast-import", "--quiet"}, stream_file, root});
  fs::remove(stream_file);
  run(root, {"git", "reset", "-q", "--hard", "main"});
}

}  // namespace tamrik::bench
