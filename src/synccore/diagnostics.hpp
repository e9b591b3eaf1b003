#pragma once
// Diagnostics shared by the sync run, the context refresh and the command
// line: the debug switch, the short description of an error, and the debug
// log of failed syncs.

#include "core/log.hpp"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::synccore {

using std::filesystem::path;

// TAMRIK_DEBUG, read in one place for the whole tool.
using core::tamrik_debug_enabled;

// Where every part of synccore writes its debug lines.
extern const core::Logger logger;

// The debug log is cut to its last _DEBUG_LOG_KEEP_BYTES when it has grown
// past _DEBUG_LOG_CAP_BYTES, so debugging left on in a shell profile keeps
// it near 256 kB however often a sync fails.
inline constexpr std::uintmax_t _DEBUG_LOG_CAP_BYTES = 256000;
inline constexpr std::uintmax_t _DEBUG_LOG_KEEP_BYTES = 128000;

// Appends one entry to <platform dir>/logs/sync.log — a blank line, "--- "
// UTC time " stage=" stage " ---", then the error's class, message and
// causes — and leaves the file readable by its owner only. Returns the
// log's path, or nullopt when it could not be written (it never throws),
// so a caller names the file only when it holds the entry.
std::optional<path> _write_sync_debug_log(const path& repo_root, std::string_view stage, const std::exception& exc);

}  // namespace tamrik::synccore
