// A repository cloned from a stranger brings its own `.tamrik/`: links out
// of the repository, special files, a project-local command, shared
// libraries named like the ones tamrik loads. Its owner has
// set tamrik up in another repository, so their agent's hooks run in the
// clone too, and may or may not have run `tamrik setup` in it. Whichever,
// no entry point reaches outside the clone: every file in HOME but tamrik's
// own places stays as it was, every hook exits 0 within its time limit, and
// memory stays bounded.

#include "cli/mcp_client.hpp"
#include "hostile/limited_run.hpp"
#include "hostile/tree_state.hpp"
#include "platform/platform_process.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <tuple>

namespace tamrik::testing {
namespace {

// Far beyond what any entry point needs here, even sanitized on a busy
// machine; a run still going at the limit is stuck.
constexpr std::chrono::seconds kTimeLimit{15};
constexpr long kMemoryLimitKib = 300 * 1024;

// Where tamrik may write outside a repository, and the clone itself.
const std::vector<fs::path> kAllowedPlaces = {".config/tamrik", ".claude",       ".claude.json",
                                              ".codex",         ".cache/tamrik", "src/repo"};

// What the stranger commits.
struct Committed {
  enum Kind { file, executable, link, library } kind;
  std::string path;
  std::string text;  // the content, or the link's target
};

struct HostileCase {
  std::string name;
  std::vector<Committed> committed;
  std::vector<std::string> fifos;  // made in the clone: git cannot carry them
  std::vector<std::pair<std::string, std::string>> env;
};

void PrintTo(const HostileCase& hostile, std::ostream* out) { *out << hostile.name; }

Committed link(std::string path, std::string target) { return {Committed::link, std::move(path), std::move(target)}; }

// A shared object that touches $HOME/PWNED as it loads.
Committed library(std::string name) { return {Committed::library, std::move(name), ""}; }
constexpr const char* kLibrarySource = R"(#include <stdio.h>
#include <stdlib.h>
__attribute__((constructor)) static void loaded(void) {
  char path[4096];
  snprintf(path, sizeof path, "%s/PWNED", getenv("HOME"));
  FILE* f = fopen(path, "w");
  if (f) fclose(f);
}
)";

// Marks the repository as set up long ago, so every commit in it is one the
// session start catches up on.
const Committed kSetUpLongAgo{Committed::file, ".tamrik/.platform/config.yaml",
                              "installed_at: \"2000-01-01T00:00:00Z\"\n"};

// The clone is $HOME/src/repo, so "../../../x" from .tamrik/ names $HOME/x.
const std::vector<HostileCase> kCases = {
    {"LedgerLinkedToBashrc", {kSetUpLongAgo, link(".tamrik/log.jsonl", "../../../.bashrc")}},
    {"AttestationsLinkedToAutostart", {kSetUpLongAgo, link(".tamrik/attestations", "../../../.config/autostart")}},
    // Linked to a project the platform does not have: the refresh fails, and
    // the failure goes to the debug log.
    {"DebugLogLinkedToBashrc",
     {{Committed::file, kSetUpLongAgo.path, kSetUpLongAgo.text + "project_id: 424242\n"},
      link(".tamrik/.platform/logs/sync.log", "../../../../../.bashrc")},
     {},
     {{"TAMRIK_DEBUG", "1"}}},
    {"TamrikLinkedToParent", {link(".tamrik", "..")}},
    {"DanglingLedgerLock",
     {kSetUpLongAgo, link(".tamrik/log.jsonl.lock", "../../../.config/autostart/tamrik.desktop")}},
    {"SpecsCacheLinkedToDocuments", {kSetUpLongAgo, link(".tamrik/.platform/specs", "../../../../Documents")}},
    {"LocalSkillsCommand",
     {kSetUpLongAgo,
      {Committed::file, "package.json", "{\"name\": \"stranger\", \"private\": true}\n"},
      {Committed::executable, "node_modules/.bin/skills", "#!/bin/sh\ntouch \"$HOME/PWNED\"\n"}}},
    {"LedgerLockIsAFifo", {kSetUpLongAgo}, {".tamrik/log.jsonl.lock"}},
    {"LedgerIsAFifo", {kSetUpLongAgo}, {".tamrik/log.jsonl"}},
    {"LedgerLinkedToUrandom", {kSetUpLongAgo, link(".tamrik/log.jsonl", "/dev/urandom")}},
    {"LedgerLinkedToZero", {kSetUpLongAgo, link(".tamrik/log.jsonl", "/dev/zero")}},
    {"ConfigLinkedToZero", {link(".tamrik/.platform/config.yaml", "/dev/zero")}},
    // The loader must never search the working directory for a library.
    {"LibrariesAtItsTop",
     {kSetUpLongAgo, library("libz.so.1"), library("libyaml-cpp.so.0.7"), library("libgcc_s.so.1"),
      library("libstdc++.so.6")}},
};

// Stands in for npx the way npm resolves a bare command name: the project's
// own node_modules/.bin copy, searched upwards from the working directory,
// comes first.
constexpr const char* kNpx = R"(#!/bin/sh
for arg; do
  case $arg in -*) ;; *) name=$arg; break ;; esac
done
dir=$PWD
while :; do
  if [ -x "$dir/node_modules/.bin/$name" ]; then exec "$dir/node_modules/.bin/$name" "$@"; fi
  [ "$dir" = / ] && exit 0
  dir=${dir%/*}
  dir=${dir:-/}
done
)";

struct Step {
  std::string name;
  std::vector<std::string> argv;
  std::string input;
  bool hook = false;  // must exit 0 whatever it meets
};

class ClonedRepository : public McpClientTest, public ::testing::WithParamInterface<std::tuple<HostileCase, bool>> {
 protected:
  static void SetUpTestSuite() {
    context_ = std::make_unique<TempDir>();
    write_text(context_->path() / "rules.yaml", "principles:\n  p1: {text: keep it small}\n");
    write_text(context_->path() / "specs" / "overview.md", "# Overview\n");
    platform_ = std::make_unique<PlatformProcess>(PlatformOptions{.context_dir = context_->path()});
    write_text(context_->path() / "loaded.c", kLibrarySource);
    const CommandResult built = run_command(
        {"cc", "-shared", "-fPIC", "-o", library_object().string(), (context_->path() / "loaded.c").string()});
    ASSERT_EQ(built.exit_code, 0) << built.out;
  }
  static fs::path library_object() { return context_->path() / "loaded.so"; }
  static void TearDownTestSuite() {
    platform_.reset();
    context_.reset();
  }

  void SetUp() override {
    McpClientTest::SetUp();
    set_up_repository();  // elsewhere: the agent hooks are now in ~/.claude
    write_text(home_ / ".bashrc", "alias ll='ls -l'\n");
    write_text(home_ / "Documents" / "thesis.txt", "Chapter 1\n");
    fs::create_directories(home_ / ".cache");  // as in any home: tamrik's cache goes below it
    fs::create_directories(home_ / ".config" / "autostart");
    write_text(tools_ / "npx", kNpx);
    fs::permissions(tools_ / "npx", fs::perms::owner_all);
    clone_stranger_repository();
  }

  const HostileCase& hostile() const { return std::get<0>(GetParam()); }
  bool set_up_in_clone() const { return std::get<1>(GetParam()); }

  void clone_stranger_repository() {
    const GitRepo stranger;
    for (const Committed& entry : hostile().committed) {
      const fs::path file = stranger.root() / entry.path;
      fs::create_directories(file.parent_path());
      if (entry.kind == Committed::link) {
        fs::create_symlink(entry.text, file);
      } else if (entry.kind == Committed::library) {
        fs::copy_file(library_object(), file);
      } else {
        write_text(file, entry.text);
        if (entry.kind == Committed::executable) fs::permissions(file, fs::perms::owner_all);
      }
    }
    stranger.git({"add", "-f", "-A"});
    stranger.git({"commit", "-q", "-m", "docs: $(touch ~/PWNED)"});
    stranger.git({"clone", "-q", stranger.root().string(), clone_.string()});
    // A remote the platform can name a project after, as a real clone has.
    stranger.git(
        {"-C", clone_.string(), "remote", "set-url", "origin", "git@example.com:stranger/" + hostile().name + ".git"});
    for (const std::string& fifo : hostile().fifos) ASSERT_EQ(::mkfifo((clone_ / fifo).c_str(), 0644), 0) << fifo;
  }

  // Every way tamrik runs in a repository: the person's commands, the hooks
  // their agent and git run, and the agent's tool server.
  std::vector<Step> steps() const {
    const std::string tamrik = tamrik_binary().string();
    const std::string clone = clone_.string();
    std::vector<Step> steps;
    if (set_up_in_clone()) {
      steps.push_back({"tamrik setup", {tamrik, "setup", "--agents", "claude-code"}});
      steps.push_back({"git commit with the post-commit hook",
                       {"git", "commit", "-q", "--allow-empty", "-m", "feat: mine"},
                       "",
                       true});
      steps.push_back({"git commit --amend with the post-rewrite hook",
                       {"git", "commit", "-q", "--amend", "--allow-empty", "-m", "feat: mine, amended"},
                       "",
                       true});
    }
    steps.push_back({"the session-start hook",
                     {tamrik, "hook", "session-start", "--agent", "claude-code"},
                     ordered_json{{"session_id", "s1"}, {"source", "startup"}, {"cwd", clone}}.dump(),
                     true});
    steps.push_back({"the post-tool hook",
                     {tamrik, "attest", "add", "--from-hook", "--agent", "claude-code"},
                     ordered_json{{"session_id", "s1"},
                                  {"tool_name", "Bash"},
                                  {"tool_input", {{"command", "git commit -m work"}}},
                                  {"tool_response", {{"interrupted", false}}},
                                  {"cwd", clone}}
                         .dump(),
                     true});
    steps.push_back({"tamrik attest add",
                     {tamrik, "attest", "add", "--commit", "HEAD", "--session", "s1", "--task-type", "feature"}});
    steps.push_back({"tamrik status", {tamrik, "status"}});
    steps.push_back({"tamrik mcp",
                     {tamrik, "mcp"},
                     request(1, "initialize", {{"protocolVersion", "2025-03-26"}}) + call(2, "status") +
                         call(3, "session_summary")});
    steps.push_back({"tamrik sync", {tamrik, "sync"}});
    return steps;
  }

  // Signed in through the environment, with the stand-in npx first on PATH.
  std::vector<std::pair<std::string, std::string>> environment() const {
    std::vector<std::pair<std::string, std::string>> env = {
        {"PATH", tools_.path().string() + ":" + std::getenv("PATH")},
        {"TAMRIK_API_KEY", platform_->key()},
        {"TAMRIK_API_URL", platform_->url()}};
    env.insert(env.end(), hostile().env.begin(), hostile().env.end());
    return env;
  }

  static inline std::unique_ptr<TempDir> context_;
  static inline std::unique_ptr<PlatformProcess> platform_;
  TempDir tools_;
  const fs::path clone_ = home_ / "src" / "repo";
};

TEST_P(ClonedRepository, NoEntryPointReachesOutsideTheClone) {
  TreeState before = tree_state(home_.path(), kAllowedPlaces);
  for (const Step& step : steps()) {
    SCOPED_TRACE(step.name);
    const LimitedResult result =
        run_limited({.argv = step.argv, .cwd = clone_, .input = step.input, .env = environment()}, kTimeLimit);
    const std::string said = result.err.substr(0, 2000);
    EXPECT_TRUE(result.finished) << "still running after " << kTimeLimit.count() << " s, so killed";
    if (result.finished) {
      EXPECT_LT(result.exit_code, 128) << "ended by a signal\n" << said;
      if (step.hook) {
        EXPECT_EQ(result.exit_code, 0) << said;
      }
    }
    EXPECT_LT(result.peak_rss_kib, kMemoryLimitKib) << "peak resident memory, KiB";

    const TreeState after = tree_state(home_.path(), kAllowedPlaces);
    EXPECT_EQ(tree_changes(before, after), std::vector<std::string>{}) << "in HOME";
    before = after;
  }
}

INSTANTIATE_TEST_SUITE_P(Hostile, ClonedRepository, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& test) {
                           return std::get<0>(test.param).name +
                                  (std::get<1>(test.param) ? "_SetUpInClone" : "_NeverSetUpInClone");
                         });

}  // namespace
}  // namespace tamrik::testing
