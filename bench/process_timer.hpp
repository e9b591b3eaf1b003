#pragma once
// Whole-process timing for the start-up benchmarks: runs programs as a hook
// runs them (stdin from a file, output discarded) and reports medians.

#include <filesystem>
#include <string>
#include <vector>

namespace tamrik::bench {

struct Command {
  std::string name;
  std::vector<std::string> argv;
  std::filesystem::path stdin_file = "/dev/null";
  std::filesystem::path cwd;
};

// One run's cost in milliseconds: wall time, and the CPU time (user and
// system) the process spent, which a busy machine disturbs far less; and
// its peak resident memory in MiB.
struct Timing {
  double wall = 0;
  double cpu = 0;
  double peak_rss = 0;
};

// Throws std::runtime_error when the program cannot be started or exits
// non-zero.
Timing time_once(const Command& command);

struct Summary {
  double median = 0;
  double min = 0;
  double max = 0;
};
Summary summarise(std::vector<double> samples);

// "name  median (min-max) ms" on one line.
std::string describe(const std::string& name, const Summary& summary);

}  // namespace tamrik::bench
