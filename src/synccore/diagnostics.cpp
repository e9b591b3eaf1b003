#include "synccore/diagnostics.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/time_text.hpp"
#include "host/paths.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tamrik::synccore {

const core::Logger logger("synccore");

namespace {

// The error and the errors it was raised from, one per line.
std::string trace_of(const std::exception& exc) {
  std::string trace = core::class_name_of(exc) + ": " + exc.what() + "\n";
  try {
    std::rethrow_if_nested(exc);
  } catch (const std::exception& cause) {
    trace += "caused by " + trace_of(cause);
  } catch (...) {
    trace += "caused by an error of unknown type\n";
  }
  return trace;
}

// Keeps only the log's last _DEBUG_LOG_KEEP_BYTES once it has outgrown the
// cap. Raw bytes: the cut may fall inside a line.
void cut_to_tail(const path& log) {
  const std::optional<struct stat> st = core::file_status(log);
  if (!st || static_cast<std::uintmax_t>(st->st_size) <= _DEBUG_LOG_CAP_BYTES) return;
  const core::UniqueFd fd = core::open_file(log, O_RDONLY);
  std::string tail(_DEBUG_LOG_KEEP_BYTES, '\0');
  const ssize_t n = ::pread(fd.get(), tail.data(), tail.size(), st->st_size - static_cast<off_t>(tail.size()));
  if (n < 0) throw core::OSError("read " + log.string(), errno);
  tail.resize(static_cast<size_t>(n));
  core::replace_file_atomically(log, tail, core::Durability::no_flush);
}

}  // namespace

std::optional<path> _write_sync_debug_log(const path& repo_root, std::string_view stage, const std::exception& exc) {
  try {
    const path log = paths::platform_dir(repo_root) / "logs" / "sync.log";
    core::make_dirs(log.parent_path());
    cut_to_tail(log);
    const std::string entry =
        "\n--- " + core::utc_now_text() + " stage=" + std::string(stage) + " ---\n" + trace_of(exc);
    core::UniqueFd fd = core::open_file(log, O_WRONLY | O_APPEND | O_CREAT, 0600);
    core::write_all(fd.get(), entry, log);
    if (::fchmod(fd.get(), 0600) != 0) throw core::OSError("chmod " + log.string(), errno);
    if (const int error = fd.close(); error != 0) throw core::OSError("close " + log.string(), error);
    return log;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace tamrik::synccore
