// The payload of `tamrik attest add --from-hook` as fuzzed bytes, taken
// through the hook's own steps without the process: read from a pipe as
// stdin is read, the cheap pre-check, decoding, the commit-command match,
// the failed-call check and the search for the repository of "cwd".
// Checked: the pre-check never skips a payload the hook would act on, the
// command match agrees with the regular expression it stands for, and a
// repository found for a cwd holds a ".git" entry at or above it.
//
// A cwd starting with "~" names a place in the scratch home, which holds a
// repository ("~/repo", set up) and a worktree ("~/worktree", a .git file).

#include "attest/hook.hpp"
#include "core/json.hpp"
#include "host/paths.hpp"
#include "host/services/hook_payload.hpp"
#include "host/services/shared.hpp"
#include "scratch.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>

namespace {

namespace attest = tamrik::attest;
namespace fs = std::filesystem;
using tamrik::core::Json;
using tamrik::fuzz::require;

const fs::path& home() {
  static const fs::path dir = [] {
    const fs::path base = tamrik::fuzz::scratch_dir() / "home";
    fs::create_directories(base / "repo" / ".git");
    fs::create_directories(base / "repo" / "src" / "deep");
    tamrik::fuzz::write_bytes(tamrik::paths::local_config_file(base / "repo"), "project_id: 7\n");
    tamrik::fuzz::write_bytes(base / "worktree" / ".git", "gitdir: ../repo/.git/worktrees/w\n");
    return base;
  }();
  return dir;
}

// The bytes as the hook reads them from stdin: through a pipe, whole.
std::optional<std::string> read_through_pipe(std::string_view bytes) {
  int ends[2];
  require(::pipe2(ends, O_CLOEXEC) == 0, "no pipe");
  // Room for the whole input, so one write fills the pipe before the read.
  const bool roomy = ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(bytes.size()) + 1) > 0 &&
                     ::write(ends[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(ends[1]);
  std::optional<std::string> read = roomy ? tamrik::services::shared::read_hook_input(ends[0]) : std::string(bytes);
  ::close(ends[0]);
  return read;
}

const Json* member(const Json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> text_member(const Json& object, const char* key) {
  const Json* value = member(object, key);
  return value != nullptr && value->is_string() ? std::optional(value->get<std::string>()) : std::nullopt;
}

// std::regex is the reference where it is safe: short ASCII text (it
// recurses per character), without the bytes on which its "." or "\b" read
// differently from the hook's (a carriage return, NUL, non-ASCII).
void check_commit_match(std::string_view command) {
  const bool matched = attest::_is_git_commit(command);
  if (command.size() > 512) return;
  for (const char c : command) {
    if (c == '\r' || c == '\0' || static_cast<unsigned char>(c) >= 0x80) return;
  }
  static const std::regex reference{std::string(attest::_GIT_COMMIT_RE)};
  require(matched == std::regex_search(command.begin(), command.end(), reference),
          "the commit-command match disagrees with its regular expression");
}

fs::path cwd_path(const std::string& cwd) {
  return cwd.starts_with('~') ? fs::path(home().native() + cwd.substr(1)) : fs::path(cwd);
}

void check_repo_root(const std::string& cwd) {
  const fs::path start = cwd_path(cwd);
  const std::optional<fs::path> root = attest::_repo_root_for(start);
  if (!root) return;
  // The system calls see a path up to its first NUL only.
  require(root->native().find('\0') == std::string::npos, "a repository root the file system cannot name");
  struct stat entry {};
  require(::lstat((*root / ".git").c_str(), &entry) == 0, "a repository root without a .git entry");
  require(start.native().starts_with(root->native()), "a repository root outside the cwd");
  // The hook's next question about that root.
  tamrik::services::shared::local_config_exists(*root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes = tamrik::fuzz::as_text(data, size);
  home();
  const std::optional<std::string> input = read_through_pipe(bytes);
  require(input == bytes, "the payload read from the pipe is not the payload written");

  check_commit_match(bytes);
  const std::optional<Json> payload = tamrik::core::parse_json(bytes);
  if (!payload) return 0;
  // Any shape of "tool_response" gets an answer, never an exception.
  attest::_tool_failed(*payload);
  const Json* tool_input = member(*payload, "tool_input");
  const std::optional<std::string> command = tool_input != nullptr ? text_member(*tool_input, "command") : std::nullopt;
  if (command) {
    check_commit_match(*command);
    if (text_member(*payload, "tool_name") == "Bash" && attest::_is_git_commit(*command)) {
      require(attest::_may_be_git_commit_payload(bytes), "the pre-check skips a git commit payload");
    }
  }
  if (const std::optional<std::string> cwd = text_member(*payload, "cwd")) check_repo_root(*cwd);
  return 0;
}
