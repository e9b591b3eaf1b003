#pragma once
// A throwaway repository with its own HOME, and the built tamrik to run in
// it: what every command-line test starts from.

#include "tamrik_runner.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <optional>

namespace tamrik::testing {

using nlohmann::ordered_json;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // tamrik and the git hooks it installs run with this HOME, so agent
    // settings and credentials land in the test's own directory.
    saved_home_ = std::getenv("HOME");
    ::setenv("HOME", home_.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home_.path() / ".config").c_str(), 1);
    ::unsetenv("TAMRIK_API_KEY");
    ::unsetenv("TAMRIK_API_URL");
    ::unsetenv("CLAUDE_CONFIG_DIR");
    // History from before tamrik was set up, as in a real repository.
    ::setenv("GIT_AUTHOR_DATE", "2024-01-01T00:00:00Z", 1);
    ::setenv("GIT_COMMITTER_DATE", "2024-01-01T00:00:00Z", 1);
    repo_.commit("chore: initial");
    ::unsetenv("GIT_AUTHOR_DATE");
    ::unsetenv("GIT_COMMITTER_DATE");
  }
  void TearDown() override { ::setenv("HOME", saved_home_.c_str(), 1); }

  TamrikResult tamrik(std::vector<std::string> args, std::string input = "", fs::path cwd = {}) {
    return run_tamrik({.args = std::move(args), .cwd = cwd.empty() ? repo_.root() : cwd, .input = std::move(input)});
  }

  // `tamrik setup` hooking Claude Code; fails the test unless it succeeds.
  void set_up_repository() {
    const TamrikResult result = tamrik({"setup", "--agents", "claude-code"});
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
  }

  fs::path tamrik_dir() const { return repo_.root() / ".tamrik"; }

  // The ledger's entries of the repository at `root` (this test's when
  // empty), in file order; empty when there is no ledger.
  std::vector<ordered_json> ledger(const fs::path& root = {}) const {
    const fs::path file = (root.empty() ? repo_.root() : root) / ".tamrik" / "log.jsonl";
    std::vector<ordered_json> entries;
    if (!fs::exists(file)) return entries;
    for (const std::string& line : lines_of(read_text(file))) {
      if (!line.empty()) entries.push_back(ordered_json::parse(line));
    }
    return entries;
  }

  size_t records_of(const std::string& commit) const {
    size_t count = 0;
    for (const ordered_json& entry : ledger()) count += entry.value("commit", "") == commit ? 1 : 0;
    return count;
  }

  TempDir home_;
  GitRepo repo_;

 private:
  std::string saved_home_;
};

}  // namespace tamrik::testing
