#pragma once
// What the whole-process benchmarks share: a throwaway home where nothing of
// the user's is read or written, realistic ledger lines, and repositories of
// any size.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::bench {

// A temporary directory made the home (HOME, XDG_CONFIG_HOME) with git's
// system configuration and every agent's markers out of the way; removed
// with everything in it at destruction.
class BenchHome {
 public:
  explicit BenchHome(std::string_view name);
  ~BenchHome();
  BenchHome(const BenchHome&) = delete;
  BenchHome& operator=(const BenchHome&) = delete;

  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

// The count given as the first argument, or `fallback` when there is none
// or it is not a positive number (scripts/bench hands every program the
// same flags).
long count_argument(int argc, char** argv, long fallback);

// Runs a setup step; throws std::runtime_error when it fails.
void run(const std::filesystem::path& cwd, std::vector<std::string> argv);

// A 40-digit commit hash of its own for each n.
std::string hex40(long n);

// One ledger line as the recorders write them: most attested, some bare
// records, half of them uploaded.
std::string ledger_line(long n);

// Replaces `ledger` with `lines` lines of ledger_line().
void write_ledger(const std::filesystem::path& ledger, long lines);

// A new repository at `root` (identity Bench <bench@example.com>) with
// `files` files in directories of 50 and `commits` commits, each after the
// first changing one file, written by one git fast-import.
void make_repo(const std::filesystem::path& root, int files, int commits);

}  // namespace tamrik::bench
