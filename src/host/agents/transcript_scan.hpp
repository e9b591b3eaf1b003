#pragma once
// The scan behind every adapter's sessions_mentioning: stream each
// transcript once, find the few lines that can matter with byte searches, and
// parse only those.
//
// A line can matter when it holds one of the searched hashes (or an
// abbreviation of one), when it is a shell call mentioning "commit", or when
// it carries the id of a `git commit` call still waiting for its result. The
// harness-specific part, reading such a line, is a TranscriptDialect.

#include "core/json.hpp"
#include "host/agents/session_evidence.hpp"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::agents {

struct TranscriptFile {
  std::filesystem::path file;
  // The session the file belongs to; "" to take it from the file's first
  // line (TranscriptDialect::session_of_first_line).
  std::string session_id;
};

class TranscriptDialect {
 public:
  virtual ~TranscriptDialect() = default;

  // Bytes every line holding a shell call contains, e.g. "\"name\":\"Bash\"".
  virtual std::string_view call_marker() const = 0;

  // Reads the shell calls and results of one parsed candidate line.
  virtual void read_line(const core::Json& line, SessionEvidence& session) const = 0;

  virtual std::string session_of_first_line(const core::Json& /*line*/) const { return {}; }
};

// Scans `files` (skipping, unopened, those last written before
// request.since) and decides which sessions made or mention each hash.
// Unreadable, vanishing and malformed files are skipped.
SessionHits scan_transcripts(const std::vector<TranscriptFile>& files, const TranscriptDialect& dialect,
                             const ScanRequest& request);

}  // namespace tamrik::agents
