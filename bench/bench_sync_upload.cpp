// A first upload as a person runs it: `tamrik sync` in a set-up repository
// whose ledger holds 100,000 and then 1,000,000 pending records (every fifth
// with an archived attestation), to a tamrik-platform on 127.0.0.1. Reports
// the whole run's wall time, records per second and peak memory, and what
// the first `tamrik status` after it costs. Targets: 100,000 in at most
// 20 s, 1,000,000 in at most 4 minutes, at most 64 MiB of memory.
//
//   bench_sync_upload [largest]   (default 1000000)

#include "bench_repo.hpp"
#include "platform/platform_process.hpp"
#include "process_timer.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using tamrik::bench::run;

std::string attestation_yaml() {
  return "summary: Rate limiting for uploads\nagent_model: claude-sonnet-4\nstaged_diff_hash: " + std::string(64, 'f') +
         "\nprovenance:\n  type: prompt\n  prompts:\n    - make uploads resilient\nrules:\n  checked: "
         "[small-commits]\n";
}

// A set-up repository with `records` pending records, its remote naming a
// project of its own.
fs::path pending_repo(const fs::path& root, long records) {
  tamrik::bench::make_repo(root, 2, 1);
  run(root, {"git", "remote", "add", "origin", "git@example.com:bench/upload-" + std::to_string(records) + ".git"});
  run(root, {TAMRIK_BINARY, "setup", "--agents", ""});
  const fs::path archive = root / ".tamrik" / "attestations";
  fs::create_directories(archive);
  std::ofstream ledger(root / ".tamrik" / "log.jsonl", std::ios::binary | std::ios::trunc);
  const std::string yaml = attestation_yaml();
  for (long n = 0; n < records; ++n) {
    std::string line = tamrik::bench::ledger_line(n);
    if (const size_t synced = line.rfind("true}"); synced != std::string::npos) {
      line.replace(synced, 5, "false}");  // every record pending
    }
    ledger << line;
    if (n % 5 == 0) std::ofstream(archive / (tamrik::bench::hex40(n) + ".yaml")) << yaml;
  }
  return root;
}

// Signs in to `platform` and times each first upload.
void bench_uploads(const fs::path& dir, const tamrik::testing::PlatformProcess& platform, long largest) {
  const fs::path key_file = dir / "key";
  std::ofstream(key_file) << platform.key() << "\n";
  tamrik::bench::time_once({"sign in", {TAMRIK_BINARY, "auth", "login", "--api-url", platform.url()}, key_file, dir});

  std::printf("== tamrik sync: first upload of every pending record\n");
  for (long records = 100'000; records <= largest; records *= 10) {
    const fs::path repo = pending_repo(dir / ("repo-" + std::to_string(records)), records);
    run(repo, {TAMRIK_BINARY, "status", "--json"});  // counted once, as any status leaves it
    const tamrik::bench::Timing timing =
        tamrik::bench::time_once({"tamrik sync", {TAMRIK_BINARY, "sync", "--timeout", "900"}, "/dev/null", repo});
    std::printf("  %9ld records: %8.1f s wall, %7.1f s CPU, %8.0f records/s, peak memory %.1f MiB\n", records,
                timing.wall / 1000, timing.cpu / 1000, records / (timing.wall / 1000), timing.peak_rss);
    // The upload folded its journal into the ledger: the first status after
    // it reads the counts carried through the fold.
    const tamrik::bench::Timing status =
        tamrik::bench::time_once({"tamrik status", {TAMRIK_BINARY, "status", "--json"}, "/dev/null", repo});
    std::printf("  %9s  first status after it: %.1f ms\n", "", status.wall);
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long largest = tamrik::bench::count_argument(argc, argv, 1'000'000);
  const tamrik::bench::BenchHome home("upload");
  ::setenv("TAMRIK_SKIP_PLATFORM_SKILLS", "1", 1);
  {
    const tamrik::testing::PlatformProcess platform;
    bench_uploads(home.dir(), platform, largest);
  }
  // The server's own directory is made under the tests' run root.
  std::error_code ignored;
  fs::remove_all(tamrik::testing::run_root(), ignored);
  return 0;
}
