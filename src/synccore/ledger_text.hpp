#pragma once
// Text-level helpers shared by the ledger's reader and writers.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tamrik::synccore::detail {

// Splits text into lines at "\n", "\r\n", "\r" and the other line
// separators a text reader honours (\v, \f, \x1c-\x1e, U+0085, U+2028,
// U+2029), without the separators. A final separator adds no empty line.
std::vector<std::string_view> split_lines(std::string_view text);

// Without surrounding ASCII whitespace.
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

// text_holds_commit over a whole file, read in blocks through one reused
// buffer: a lookup in a large ledger costs a pass over its bytes, not a copy
// of it. False when the file cannot be read.
bool file_holds_commit(const std::filesystem::path& file, std::string_view commit);

// Spool files of a ledger: appends made while another process held the
// ledger lock too long. Named <ledger name>.spool-<unique>; sorted by name.
std::vector<std::filesystem::path> spool_files(const std::filesystem::path& log_path);
std::filesystem::path new_spool_name(const std::filesystem::path& log_path);

// How long a ledger writer waits for the lock before it spools (appends) or
// gives up (rewrites). Tests shorten it; the product never changes it.
extern std::chrono::milliseconds ledger_lock_timeout;

}  // namespace tamrik::synccore::detail
