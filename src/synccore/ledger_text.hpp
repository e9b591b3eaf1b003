#pragma once
// Text-level helpers shared by the ledger's reader and writers.

#include "core/file_lock.hpp"
#include "core/line_reader.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::synccore::detail {

// Splits text into lines at "\n", "\r\n", "\r" and the other ASCII line
// separators a text reader honours (\v, \f, \x1c-\x1e), without the
// separators. A final separator adds no empty line. U+0085, U+2028 and
// U+2029 do not split: JSON allows them raw inside strings, and a line
// holding one is one record, not two corrupt halves.
std::vector<std::string_view> split_lines(std::string_view text);

// Lets a set of commits be searched with a string_view.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// A file tamrik keeps about ledger `log_path`: .platform/<name> beside it.
std::filesystem::path ledger_state_file(const std::filesystem::path& log_path, std::string_view name);

// The longest ledger line read: a longer one counts as corrupt and is never
// held in memory. Above what one upload may carry, so every sendable record
// fits.
inline constexpr size_t kLedgerLineCap = 16 << 20;

// Calls `visit` with every line of ledger `file` in order (as split_lines()
// splits it, trimmed, blank ones left out); a line over kLedgerLineCap comes
// as nullopt. False when the file cannot be read.
using LineVisitor = std::function<void(std::optional<std::string_view> line)>;
bool visit_lines(const std::filesystem::path& file, const LineVisitor& visit);
// What visit_lines() passes of one line a core::LineReader read.
void visit_line(const core::LineReader::Line& line, const LineVisitor& visit);

// Rewrites ledger `file` line by line, atomically: `edit` gets each
// non-blank line as visit_lines() passes it (trimmed, so every reader and
// editor sees the same record) and returns its new text, or nullopt to keep
// the line's bytes as they are; blank and over-long lines are copied
// unchanged. The file is replaced only when `edit` changed a line and the
// file is still the one read, at the size read (a writer without the lock
// may have appended). Returns whether it was replaced. Throws OSError. The
// caller holds the ledger lock, or the file system refuses locks.
// `placed`, when given, hears where each line of the file starts and where
// it goes in the new file, and at the end the two sizes.
using LineEdit = std::function<std::optional<std::string>(std::string_view line)>;
using LinePlaced = std::function<void(size_t old_offset, size_t new_offset)>;
bool rewrite_lines(const std::filesystem::path& file, const LineEdit& edit, const LinePlaced& placed = {});

// Without surrounding white space (Unicode's, as a ledger reader strips it).
std::string_view trim(std::string_view text);

// The commit of a line written by our own writers, which always put
// `commit` first as plain text: {"commit": "<value>", ... . Empty when the
// line does not start that way, or names "commit" again (a parser keeps the
// last value); the caller must then parse the line.
std::string_view leading_commit(std::string_view line);

// Whether any line of ledger `text` is an object whose `commit` is the text
// `commit`. Our writers never escape ASCII, so such a line holds the commit
// verbatim: candidate lines are found by bytes and only those are parsed.
bool text_holds_commit(std::string_view text, std::string_view commit);

// text_holds_commit over a whole file, read line by line through one
// bounded buffer: a lookup in a large ledger costs a pass over its bytes,
// not a copy of it. False when the file cannot be read.
bool file_holds_commit(const std::filesystem::path& file, std::string_view commit);

// Spool files of a ledger: appends made while another process held the
// ledger lock too long. Named <ledger name>.spool-<unique>; sorted by name.
std::vector<std::filesystem::path> spool_files(const std::filesystem::path& log_path);
std::filesystem::path new_spool_name(const std::filesystem::path& log_path);

// How long a ledger writer waits for the lock before it spools (appends) or
// gives up (rewrites). Tests shorten it; the product never changes it.
extern std::chrono::milliseconds ledger_lock_timeout;

// Takes the ledger's lock, waiting at most `wanted` and never past the
// process's budget for lock waits (limit_lock_waits).
core::LockGuard lock_ledger(const std::filesystem::path& log_path,
                            std::chrono::milliseconds wanted = ledger_lock_timeout);

// Whether a writer may go ahead: it holds the lock, or the file system
// refuses locks to everyone, where nobody can hold one and waiting would
// defer the write forever.
bool may_write(const core::LockGuard& guard);

}  // namespace tamrik::synccore::detail
