#include "host/agents/transcript_scan.hpp"

#include "host/agents/jsonl_reader.hpp"
#include "host/agents/transcript_files.hpp"

#include <string.h>

#include <algorithm>

namespace tamrik::agents {

namespace {

constexpr std::string_view kCommitWord = "commit";
// Calls left without a result (a session killed mid-call) must not make
// every later block slower: only the newest are watched for.
constexpr std::size_t kMaxWatchedCalls = 16;

const char* find_bytes(std::string_view haystack, std::size_t from, std::string_view needle) {
  if (from >= haystack.size() || needle.empty()) return nullptr;
  return static_cast<const char*>(
      ::memmem(haystack.data() + from, haystack.size() - from, needle.data(), needle.size()));
}

// Blocks hold whole lines: every line ends in '\n'.
std::size_t line_start(std::string_view block, std::size_t pos) {
  const void* newline = ::memrchr(block.data(), '\n', pos);
  return newline == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(newline) - block.data()) + 1;
}

std::size_t line_end(std::string_view block, std::size_t pos) { return block.find('\n', pos); }

std::string_view line_at(std::string_view block, std::size_t start) {
  return block.substr(start, line_end(block, start) - start);
}

// Starts of the lines (from `from` on) holding `needle`, and `also` when given.
void add_lines_holding(std::string_view block, std::size_t from, std::string_view needle, std::string_view also,
                       std::vector<std::size_t>& starts) {
  while (const char* hit = find_bytes(block, from, needle)) {
    const auto pos = static_cast<std::size_t>(hit - block.data());
    const std::size_t start = line_start(block, pos);
    const std::size_t end = line_end(block, pos);
    if (also.empty() || find_bytes(block.substr(start, end - start), 0, also) != nullptr) starts.push_back(start);
    from = end + 1;
  }
}

void add_lines_with_hashes(std::string_view block, const HashIndex& hashes, std::vector<std::size_t>& starts) {
  hashes.find(block, [&](const HashMatch& match) {
    starts.push_back(line_start(block, match.offset));
    return line_end(block, match.offset) + 1;  // one hit is enough for a line
  });
}

void record_mentions(std::string_view line, const HashIndex& hashes, SessionEvidence& session) {
  hashes.find(line, [&](const HashMatch& match) {
    if (match.full || in_commit_context(line, match)) session.add_mention(match.hash);
    return match.offset + match.length;
  });
}

void sort_unique(std::vector<std::size_t>& starts, std::size_t from) {
  std::sort(starts.begin() + static_cast<std::ptrdiff_t>(from), starts.end());
  starts.erase(std::unique(starts.begin() + static_cast<std::ptrdiff_t>(from), starts.end()), starts.end());
}

class FileScan {
 public:
  FileScan(const TranscriptDialect& dialect, const ScanRequest& request,
           std::map<std::string, SessionEvidence>& sessions)
      : dialect_(dialect), request_(request), sessions_(sessions) {}

  void run(const TranscriptFile& transcript, std::vector<char>& buffer) {
    if (!written_since(transcript.file, request_.since)) return;
    JsonlReader reader(buffer);
    if (!reader.open(transcript.file)) return;
    session_ = transcript.session_id.empty() ? nullptr : &sessions_[transcript.session_id];
    while (auto block = reader.next_block()) {
      if (session_ == nullptr && !take_session_from(line_at(*block, 0))) return;
      scan_block(*block);
    }
  }

 private:
  bool take_session_from(std::string_view first_line) {
    const auto json = core::parse_json(first_line);
    if (!json || !json->is_object()) return false;
    const std::string id = dialect_.session_of_first_line(*json);
    if (!is_safe_session_id(id)) return false;
    session_ = &sessions_[id];
    return true;
  }

  void scan_block(std::string_view block) {
    std::vector<std::size_t> starts;
    add_lines_with_hashes(block, request_.hashes, starts);
    add_lines_holding(block, 0, kCommitWord, dialect_.call_marker(), starts);
    const std::vector<std::string> open = session_->open_call_ids();
    const std::size_t first_watched = open.size() > kMaxWatchedCalls ? open.size() - kMaxWatchedCalls : 0;
    for (std::size_t i = first_watched; i < open.size(); ++i) add_lines_holding(block, 0, open[i], {}, starts);
    sort_unique(starts, 0);

    for (std::size_t k = 0; k < starts.size(); ++k) {
      const std::size_t calls_before = session_->calls().size();
      const std::string_view line = line_at(block, starts[k]);
      read_candidate(line);
      // A call just read gets its result later in the file: watch for its id.
      const std::vector<CommitCall>& calls = session_->calls();
      const std::size_t rest = starts[k] + line.size() + 1;
      const std::size_t added_from = starts.size();
      for (std::size_t c = calls_before; c < calls.size(); ++c) {
        if (!calls[c].answered && !calls[c].id.empty()) add_lines_holding(block, rest, calls[c].id, {}, starts);
      }
      if (starts.size() != added_from) sort_unique(starts, k + 1);
    }
  }

  void read_candidate(std::string_view line) {
    const auto json = core::parse_json(line);
    if (!json || !json->is_object()) return;  // torn, foreign or not JSON: skip
    record_mentions(line, request_.hashes, *session_);
    dialect_.read_line(*json, *session_);
  }

  const TranscriptDialect& dialect_;
  const ScanRequest& request_;
  std::map<std::string, SessionEvidence>& sessions_;
  SessionEvidence* session_ = nullptr;
};

}  // namespace

SessionHits scan_transcripts(const std::vector<TranscriptFile>& files, const TranscriptDialect& dialect,
                             const ScanRequest& request) {
  if (request.shas.empty()) return {};
  std::map<std::string, SessionEvidence> sessions;
  std::vector<char> buffer;
  FileScan scan(dialect, request, sessions);
  for (const TranscriptFile& transcript : files) scan.run(transcript, buffer);
  return decide_hits(sessions, request);
}

}  // namespace tamrik::agents
