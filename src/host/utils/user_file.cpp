#include "host/utils/user_file.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tamrik::utils::user_file {

std::optional<std::string> read_if_exists(const std::filesystem::path& file) {
  try {
    return core::read_file(file, core::kDocumentFileCap);
  } catch (const core::OSError& e) {
    if (e.code() == ENOENT) return std::nullopt;
    throw;
  }
}

void replace(const std::filesystem::path& file, std::string_view text, mode_t mode_when_new) {
  struct stat before {};
  const mode_t mode = ::stat(file.c_str(), &before) == 0 ? (before.st_mode & 07777) : mode_when_new;
  if (file.has_parent_path()) core::make_dirs(file.parent_path());
  // The atomic replace leaves the new file private (600); the user's file
  // gets its own permissions back, an executable hook its execute bits.
  core::replace_file_atomically(file, text);
  if (::chmod(file.c_str(), mode) != 0) throw core::OSError("chmod " + file.string(), errno);
}

void remove(const std::filesystem::path& file) {
  if (::unlink(file.c_str()) != 0 && errno != ENOENT) throw core::OSError("unlink " + file.string(), errno);
}

}  // namespace tamrik::utils::user_file
