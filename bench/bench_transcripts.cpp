// Transcript reading speed on a synthetic Claude Code store.
//
// The store: 40 sessions of ~5 MB (200 MB; TAMRIK_BENCH_STORE_MB changes it)
// shaped like real ones: prompts, streamed assistant lines with usage, Bash
// calls and their results (file contents, test logs), progress lines, uuids on
// every line, other commits' hashes, "commit" in prose now and then. Five of
// the 50 searched hashes are planted: two made by a `git commit` call, three
// mentioned. Page cache warm (the files were just written).
//
//   sessions_mentioning over the store, 50 hashes         -> MB/s
//   the same with `since` newer than all but one file      -> files skipped unopened
//   telemetry of one 100 MB session                        -> time, MB/s

#include "core/json.hpp"
#include "core/sha256.hpp"
#include "core/time_text.hpp"
#include "host/agents/claude_code.hpp"
#include "host/agents/commit_hashes.hpp"
#include "host/agents/registry.hpp"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tamrik::core::Json;
namespace agents = tamrik::agents;

constexpr double kStart = 1785000000;  // the store's first line
constexpr std::size_t kSessionBytes = 5u << 20;

std::string hash_of(const std::string& seed) { return tamrik::core::sha256_hex(seed).substr(0, 40); }

std::string uuid(std::mt19937_64& rng) {
  const std::string hex = tamrik::core::sha256_hex(std::to_string(rng()));
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20, 12);
}

std::string iso(double when) { return tamrik::core::format_utc(static_cast<std::time_t>(when)); }

// Prose and code in roughly the proportions of a coding session.
std::string filler(std::mt19937_64& rng, std::size_t bytes) {
  static const std::vector<std::string> kWords = {
      "the",    "parser", "returns", "a",       "value",   "when",  "input",  "is",      "empty",   "we",
      "should", "check",  "file",    "before",  "reading", "const", "auto",   "return",  "std::",   "string",
      "if",     "(",      ")",       "{",       "}",       "test",  "passes", "added",   "failing", "case",
      "error",  "handle", "buffer",  "size",    "line",    "0x1f",  "42",     "2048",    "offset",  "=",
      "->",     "struct", "void",    "include", "header",  "build", "ninja:", "[12/40]", "ok",      "decode"};
  std::string text;
  text.reserve(bytes + 16);
  while (text.size() < bytes) {
    text += kWords[rng() % kWords.size()];
    text += (rng() % 12 == 0) ? "\n" : " ";
  }
  return text;
}

struct Planted {
  std::vector<std::string> hashes;  // the 50 searched for
  std::map<std::string, double> times;
};

class SessionWriter {
 public:
  SessionWriter(std::string id, std::string cwd, std::uint64_t seed)
      : id_(std::move(id)), cwd_(std::move(cwd)), rng_(seed) {}

  Json base(const char* type) {
    now_ += 3.7;
    return Json{{"parentUuid", uuid(rng_)}, {"isSidechain", false},  {"userType", "external"}, {"cwd", cwd_},
                {"sessionId", id_},         {"version", "2.1.220"},  {"gitBranch", "main"},    {"type", type},
                {"uuid", uuid(rng_)},       {"timestamp", iso(now_)}};
  }

  Json usage() {
    return Json{{"input_tokens", rng_() % 50},
                {"cache_creation_input_tokens", rng_() % 5000},
                {"cache_read_input_tokens", rng_() % 90000},
                {"cache_creation", {{"ephemeral_5m_input_tokens", 0}, {"ephemeral_1h_input_tokens", 0}}},
                {"output_tokens", rng_() % 900},
                {"service_tier", "standard"}};
  }

  void prompt() {
    Json line = base("user");
    line["message"] = {{"role", "user"}, {"content", filler(rng_, 200)}};
    add(line);
  }

  // One response streamed as thinking, text and a tool call.
  void response(const std::string& command, const std::string& result) {
    const std::string message_id = "msg_01" + uuid(rng_).substr(0, 22);
    const std::string tool_id = "toolu_01" + uuid(rng_).substr(0, 22);
    for (const Json& block :
         {Json{{"type", "thinking"}, {"thinking", filler(rng_, 600)}, {"signature", uuid(rng_) + uuid(rng_)}},
          Json{{"type", "text"}, {"text", filler(rng_, 300)}},
          Json{{"type", "tool_use"},
               {"id", tool_id},
               {"name", "Bash"},
               {"input", {{"command", command}, {"description", "run"}}}}}) {
      Json line = base("assistant");
      line["message"] = {
          {"model", "claude-opus-4-6"},      {"id", message_id}, {"type", "message"}, {"role", "assistant"},
          {"content", Json::array({block})}, {"usage", usage()}};
      line["requestId"] = "req_011" + uuid(rng_).substr(0, 20);
      add(line);
    }
    Json line = base("user");
    line["message"] = {
        {"role", "user"},
        {"content",
         Json::array({{{"tool_use_id", tool_id}, {"type", "tool_result"}, {"content", result}, {"is_error", false}}})}};
    line["toolUseResult"] = {{"stdout", result}, {"stderr", ""}, {"interrupted", false}, {"isImage", false}};
    add(line);
  }

  void progress() {
    Json line = base("progress");
    line["data"] = {{"type", "hook_progress"}, {"hookEvent", "PostToolUse"}, {"command", "tamrik attest add"}};
    add(line);
  }

  void ordinary_turn(int n) {
    if (n % 12 == 0) prompt();
    const int kind = static_cast<int>(rng_() % 10);
    if (kind < 5) {
      response("cat src/parser.cpp", filler(rng_, 2000 + rng_() % 12000));  // a file read
    } else if (kind < 8) {
      response("ninja -C build && ./build/tests", filler(rng_, 800));
    } else if (kind < 9) {
      // Other commits' hashes: hex the finder must look at and reject.
      response("git log --oneline -20", [&] {
        std::string log;
        for (int i = 0; i < 20; ++i)
          log += hash_of(std::to_string(rng_())).substr(0, 7) + " " + filler(rng_, 40) + "\n";
        return log;
      }());
    } else {
      // Prose about committing: the word alone makes a line worth a look.
      response("git status", "On branch main\nChanges not staged for commit:\n" + filler(rng_, 200));
    }
    if (n % 5 == 0) progress();
  }

  void commit_call(const std::string& sha, double commit_time) {
    now_ = commit_time - 5;
    response("git add -A && git commit -m 'fix: parser'",
             "[main " + sha.substr(0, 7) + "] fix: parser\n 2 files changed");
  }

  void mention(const std::string& sha) {
    response("git show --stat " + sha, "commit " + sha + "\n" + filler(rng_, 200));
  }

  std::size_t size() const { return text_.size(); }
  const std::string& text() const { return text_; }
  double now() const { return now_; }

 private:
  void add(const Json& line) { text_ += line.dump() + "\n"; }

  std::string id_;
  std::string cwd_;
  std::mt19937_64 rng_;
  double now_ = kStart;
  std::string text_;
};

struct Store {
  fs::path root;  // CLAUDE_CONFIG_DIR
  fs::path repo;
  Planted planted;
  std::vector<fs::path> files;
  std::uint64_t bytes = 0;
  std::string big_session;
  std::uint64_t big_bytes = 0;
};

void write_file(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

bool store_built = false;

Store& store() {
  static Store built = [] {
    store_built = true;
    Store s;
    s.root = fs::temp_directory_path() / ("tamrik-bench-transcripts-" + std::to_string(::getpid()));
    s.repo = s.root / "repo";
    fs::create_directories(s.repo);
    ::setenv("CLAUDE_CONFIG_DIR", s.root.c_str(), 1);
    const char* mb = std::getenv("TAMRIK_BENCH_STORE_MB");
    const std::size_t store_bytes = static_cast<std::size_t>(mb ? std::atol(mb) : 200) << 20;
    const std::size_t sessions = std::max<std::size_t>(store_bytes / kSessionBytes, 2);

    for (int i = 0; i < 50; ++i) {
      const std::string sha = hash_of("wanted " + std::to_string(i));
      s.planted.hashes.push_back(sha);
      s.planted.times[sha] = kStart + 3600.0 * i;
    }
    const fs::path project = s.root / "projects" / agents::claude_project_key(s.repo.string());
    for (std::size_t k = 0; k < sessions; ++k) {
      const std::string id = "bench-session-" + std::to_string(k);
      SessionWriter writer(id, s.repo.string(), k + 1);
      for (int n = 0; writer.size() < kSessionBytes; ++n) {
        writer.ordinary_turn(n);
        if (n == 200 && k < 2) writer.commit_call(s.planted.hashes[k], s.planted.times[s.planted.hashes[k]]);
        if (n == 300 && k >= 2 && k < 5) writer.mention(s.planted.hashes[k]);
      }
      write_file(project / (id + ".jsonl"), writer.text());
      s.files.push_back(project / (id + ".jsonl"));
      s.bytes += writer.size();
    }

    SessionWriter big("bench-big", s.repo.string(), 999);
    for (int n = 0; big.size() < (100u << 20); ++n) big.ordinary_turn(n);
    s.big_session = "bench-big";
    write_file(s.root / "big" / "projects" / "-big" / "bench-big.jsonl", big.text());
    s.big_bytes = big.size();
    return s;
  }();
  return built;
}

void BM_SessionsMentioning(benchmark::State& state) {
  Store& s = store();
  const agents::Adapter& claude = *agents::get_adapter_by_name("claude-code");
  std::size_t found = 0;
  for (auto _ : state) {
    const auto hits = claude.sessions_mentioning(s.repo, s.planted.hashes, std::nullopt, s.planted.times);
    found = hits ? hits->size() : 0;
    benchmark::DoNotOptimize(hits);
  }
  if (found != 5) state.SkipWithError(("expected 5 planted hashes, found " + std::to_string(found)).c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
  state.counters["files"] = static_cast<double>(s.files.size());
  state.counters["store_MB"] = static_cast<double>(s.bytes) / (1 << 20);
}

void BM_SessionsMentioningSince(benchmark::State& state) {
  Store& s = store();
  // Every file but the last one last written long ago.
  const double since = kStart + 1e7;
  for (std::size_t i = 0; i + 1 < s.files.size(); ++i) {
    const struct timespec old[2] = {{static_cast<time_t>(kStart), 0}, {static_cast<time_t>(kStart), 0}};
    ::utimensat(AT_FDCWD, s.files[i].c_str(), old, 0);
  }
  const agents::Adapter& claude = *agents::get_adapter_by_name("claude-code");
  for (auto _ : state) {
    benchmark::DoNotOptimize(claude.sessions_mentioning(s.repo, s.planted.hashes, since, s.planted.times));
  }
  state.counters["files_read"] = 1;
  state.counters["files_skipped"] = static_cast<double>(s.files.size() - 1);
  for (const fs::path& file : s.files) ::utimensat(AT_FDCWD, file.c_str(), nullptr, 0);
}

void BM_ClaudeTelemetry100MB(benchmark::State& state) {
  Store& s = store();
  ::setenv("CLAUDE_CONFIG_DIR", (s.root / "big").c_str(), 1);
  const agents::Adapter& claude = *agents::get_adapter_by_name("claude-code");
  for (auto _ : state) {
    const auto telemetry = claude.get_telemetry_for_session(s.repo, s.big_session);
    if (!telemetry || telemetry->model.empty()) state.SkipWithError("no telemetry");
    benchmark::DoNotOptimize(telemetry);
  }
  ::setenv("CLAUDE_CONFIG_DIR", s.root.c_str(), 1);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.big_bytes));
}

// The byte search alone, over one session held in memory: the part of the
// scan that grows with the store.
void BM_HashFinder(benchmark::State& state) {
  SessionWriter writer("bench-finder", "/work/repo", 7);
  for (int n = 0; writer.size() < kSessionBytes; ++n) writer.ordinary_turn(n);
  std::vector<std::string> hashes;
  for (int i = 0; i < 50; ++i) hashes.push_back(hash_of("wanted " + std::to_string(i)));
  const agents::HashIndex index(hashes);
  std::size_t matches = 0;
  for (auto _ : state) {
    index.find(writer.text(), [&](const agents::HashMatch& m) {
      ++matches;
      return m.offset + m.length;
    });
  }
  benchmark::DoNotOptimize(matches);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * writer.size()));
}

BENCHMARK(BM_HashFinder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SessionsMentioning)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SessionsMentioningSince)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ClaudeTelemetry100MB)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  if (store_built) fs::remove_all(store().root, ec);
  return 0;
}
