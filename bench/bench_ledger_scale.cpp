// Whether what a person feels stays flat as the ledger and the history grow.
// Whole processes, as the hooks run them, in repositories of realistic size
// (3,000 commits over 2,000 files) set up with tamrik, one with a 100-line
// and one with a 1,000,000-line ledger (about 300 MB), runs interleaved:
//
//   hook entries       each entry's wall and CPU time on both ledgers, and
//                      its peak memory at 1M lines (targets: at most 1.1x
//                      the small ledger; at most 16 MiB)
//   git commit         `git commit` with tamrik's hook against the same
//                      commit without it, in blocks (an unhooked commit
//                      left unrecorded would make the next hooked one walk
//                      below it); target at most 1.4x on both ledgers
//   large history      the session start in a repository of 100,000 commits
//                      with a 1M-line ledger against a small repository
//                      with a small one; target at most 1.2x
//
//   bench_ledger_scale [rounds]   (default 15, after 2 warm-ups)

#include "bench_repo.hpp"
#include "process_timer.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;
using tamrik::bench::Command;
using tamrik::bench::run;
using tamrik::bench::Timing;

constexpr long kSmallLedger = 100;
constexpr long kLargeLedger = 1'000'000;

// A repository set up with tamrik whose ledger holds `lines` lines and
// its HEAD, as an established install's does.
fs::path set_up_repo(const fs::path& root, int files, int commits, long lines) {
  tamrik::bench::make_repo(root, files, commits);
  run(root, {TAMRIK_BINARY, "setup", "--agents", ""});
  tamrik::bench::write_ledger(root / ".tamrik" / "log.jsonl", lines);
  run(root, {TAMRIK_BINARY, "sync", "--record-commit"});
  return root;
}

// A commit no hook records, changing one file: the next record has a new
// HEAD, and only it, to record.
void commit_unrecorded(const fs::path& repo, int n) {
  std::ofstream(repo / "src" / "d0" / "f0.txt", std::ios::app) << "change " << n << "\n";
  run(repo, {"git", "-c", "core.hooksPath=/dev/null", "commit", "-q", "-a", "-m", "feat: change " + std::to_string(n)});
}

std::string claude_payload(const fs::path& repo, const std::string& event, const std::string& rest) {
  return R"({"session_id":"3f0c9a1e-5b7d-4c2a-9e8f-1a2b3c4d5e6f","cwd":")" + repo.string() +
         R"(","hook_event_name":")" + event + "\"," + rest + "}";
}

fs::path write_file(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

// One hook entry: what runs before each timed run (untimed), and the run.
struct Entry {
  std::string name;
  std::function<void(const fs::path& repo, int n)> before;
  std::function<Command(const fs::path& repo)> command;
};

std::vector<Entry> hook_entries(const fs::path& payloads) {
  const std::vector<std::string> post_tool = {TAMRIK_BINARY, "attest", "add", "--from-hook", "--agent", "claude-code"};
  const auto nothing = [](const fs::path&, int) {};
  return {
      {"post-commit record", commit_unrecorded,
       [](const fs::path& repo) {
         return Command{"record", {TAMRIK_BINARY, "sync", "--record-commit"}, "/dev/null", repo};
       }},
      {"PostToolUse, a Read call", nothing,
       [=](const fs::path& repo) {
         const std::string rest = R"("tool_name":"Read","tool_input":{"file_path":"src/d0/f1.txt"},"tool_response":{})";
         return Command{"read", post_tool,
                        write_file(payloads / (repo.filename().string() + "-read.json"),
                                   claude_payload(repo, "PostToolUse", rest)),
                        repo};
       }},
      {"PostToolUse, a git commit call", commit_unrecorded,
       [=](const fs::path& repo) {
         const std::string rest =
             R"("tool_name":"Bash","tool_input":{"command":"git commit -m 'feat: change'"},"tool_response":{"stdout":"","stderr":""})";
         return Command{"commit call", post_tool,
                        write_file(payloads / (repo.filename().string() + "-commit.json"),
                                   claude_payload(repo, "PostToolUse", rest)),
                        repo};
       }},
      {"session start", nothing,
       [=](const fs::path& repo) {
         return Command{"session start",
                        {TAMRIK_BINARY, "hook", "session-start", "--agent", "claude-code"},
                        write_file(payloads / (repo.filename().string() + "-start.json"),
                                   claude_payload(repo, "SessionStart", R"("source":"startup")")),
                        repo};
       }},
      {"tamrik attest", [](const fs::path& repo, int) { fs::remove(repo / ".tamrik" / ".commit-attestation.yaml"); },
       [](const fs::path& repo) {
         return Command{"attest",
                        {TAMRIK_BINARY, "attest", "--no-verify", "--model", "claude-sonnet-4", "--summary",
                         "Rate limiting for uploads", "--staged-diff-hash",
                         // nothing is staged: the hash of an empty diff
                         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                        "/dev/null",
                        repo};
       }},
  };
}

struct Samples {
  std::vector<double> wall, cpu;
  double peak_rss = 0;
  void add(const Timing& timing) {
    wall.push_back(timing.wall);
    cpu.push_back(timing.cpu);
    peak_rss = std::max(peak_rss, timing.peak_rss);
  }
};

double median(const std::vector<double>& samples) { return tamrik::bench::summarise(samples).median; }

void print_pair(const std::string& name, const Samples& small, const Samples& large, double target,
                const char* small_name, const char* large_name) {
  std::printf("%s\n", name.c_str());
  std::printf(
      "  %s\n",
      tamrik::bench::describe(std::string("wall, ") + small_name, tamrik::bench::summarise(small.wall)).c_str());
  std::printf(
      "  %s\n",
      tamrik::bench::describe(std::string("wall, ") + large_name, tamrik::bench::summarise(large.wall)).c_str());
  std::printf("  ratio %.2fx wall, %.2fx CPU (target: at most %.1fx); peak memory %.1f MiB / %.1f MiB\n",
              median(large.wall) / median(small.wall), median(large.cpu) / median(small.cpu), target, small.peak_rss,
              large.peak_rss);
}

// Hook entries on the small and the large ledger, interleaved.
void bench_hook_entries(const std::map<long, fs::path>& repos, const fs::path& payloads, int rounds) {
  const std::vector<Entry> entries = hook_entries(payloads);
  std::map<std::string, std::map<long, Samples>> samples;
  int n = 0;
  for (int round = -2; round < rounds; ++round) {
    for (const Entry& entry : entries) {
      // Each ledger goes first every other round: neither gains from its place.
      for (const long lines :
           round % 2 == 0 ? std::vector{kSmallLedger, kLargeLedger} : std::vector{kLargeLedger, kSmallLedger}) {
        const fs::path& repo = repos.at(lines);
        entry.before(repo, ++n);
        const Timing timing = tamrik::bench::time_once(entry.command(repo));
        if (round >= 0) samples[entry.name][lines].add(timing);
      }
    }
  }
  std::printf("== Hook entries, %d rounds: 100-line against 1,000,000-line ledger (median, min-max)\n", rounds);
  for (const Entry& entry : entries) {
    print_pair(entry.name, samples[entry.name][kSmallLedger], samples[entry.name][kLargeLedger], 1.1, "100 lines",
               "1M lines");
  }
}

// `git commit` of a one-file change, with the hook and without, in blocks.
void bench_git_commit(const std::map<long, fs::path>& repos, int rounds) {
  constexpr int kBlock = 5;
  std::map<long, Samples> hooked, bare;
  int n = 1000;
  for (int block = -1; block < rounds / kBlock + 1; ++block) {
    for (const auto& [lines, repo] : repos) {
      for (const bool with_hook : {true, false}) {
        for (int i = 0; i < kBlock; ++i) {
          std::ofstream(repo / "src" / "d1" / "f50.txt", std::ios::app) << "change " << ++n << "\n";
          run(repo, {"git", "add", "src/d1/f50.txt"});
          std::vector<std::string> commit = {"git", "commit", "-q", "-m", "feat: change " + std::to_string(n)};
          if (!with_hook) commit.insert(commit.begin() + 1, {"-c", "core.hooksPath=/dev/null"});
          const Timing timing = tamrik::bench::time_once({"git commit", commit, "/dev/null", repo});
          if (block >= 0) (with_hook ? hooked : bare)[lines].add(timing);
        }
        // The unhooked block's commits recorded before the next hooked one.
        if (!with_hook) run(repo, {TAMRIK_BINARY, "sync", "--record-commit"});
      }
    }
  }
  std::printf("== git commit with tamrik's hook against without, blocks of %d (median, min-max)\n", kBlock);
  for (const auto& [lines, repo] : repos) {
    const std::string ledger = lines == kSmallLedger ? "100-line ledger" : "1M-line ledger";
    print_pair("git commit, " + ledger, bare[lines], hooked[lines], 1.4, "without the hook", "with the hook");
  }
}

// The session start in a long history with a large ledger against a small
// repository, interleaved.
void bench_large_history(const fs::path& dir, const fs::path& payloads, int rounds) {
  const std::map<long, fs::path> repos = {
      {kSmallLedger, set_up_repo(dir / "small-history", 20, 10, kSmallLedger)},
      {kLargeLedger, set_up_repo(dir / "large-history", 20, 100'000, kLargeLedger)},
  };
  const Entry start = hook_entries(payloads)[3];
  std::map<long, Samples> samples;
  for (int round = -2; round < rounds; ++round) {
    for (const auto& [lines, repo] : repos) {
      const Timing timing = tamrik::bench::time_once(start.command(repo));
      if (round >= 0) samples[lines].add(timing);
    }
  }
  std::printf("== Session start, %d rounds (median, min-max)\n", rounds);
  print_pair("session start", samples[kSmallLedger], samples[kLargeLedger], 1.2, "10 commits, 100-line ledger",
             "100,000 commits, 1M-line ledger");
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = static_cast<int>(tamrik::bench::count_argument(argc, argv, 15));
  const tamrik::bench::BenchHome home("scale");
  const fs::path payloads = home.dir() / "payloads";
  fs::create_directories(payloads);
  const std::map<long, fs::path> repos = {
      {kSmallLedger, set_up_repo(home.dir() / "small-ledger", 2'000, 3'000, kSmallLedger)},
      {kLargeLedger, set_up_repo(home.dir() / "large-ledger", 2'000, 3'000, kLargeLedger)},
  };
  bench_hook_entries(repos, payloads, rounds);
  bench_git_commit(repos, rounds);
  bench_large_history(home.dir(), payloads, rounds);
  return 0;
}
