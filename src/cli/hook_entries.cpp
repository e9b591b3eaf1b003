#include "cli/hook_entries.hpp"

#include "attest/attest.hpp"
#include "cli/sync_command.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tamrik::cli {

std::optional<int> run_hook_entry(int argc, const char* const* argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args == std::vector<std::string_view>{"sync", "--record-commit"}) return record_commit_from_hook();
  if (args == std::vector<std::string_view>{"sync", "--record-rewrite", "amend"} ||
      args == std::vector<std::string_view>{"sync", "--record-rewrite", "rebase"}) {
    return record_rewrite_from_hook();
  }

  if (args.size() < 3 || args[0] != "attest" || args[1] != "add" || args[2] != "--from-hook") return std::nullopt;
  if (args.size() == 3) return attest::run_attest_add_from_hook(std::nullopt);
  if (args.size() == 5 && args[3] == "--agent") {
    return attest::run_attest_add_from_hook(std::string(args[4]));
  }
  return std::nullopt;
}

}  // namespace tamrik::cli
