#include "host/utils/user_file.hpp"

#include "core/confinement.hpp"
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

std::optional<std::filesystem::path> link_target(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_symlink(file, error)) return file;
  const std::filesystem::path target = std::filesystem::weakly_canonical(file, error);
  if (error) return std::nullopt;
  return target;
}

void replace(const std::filesystem::path& file, std::string_view text, mode_t mode_when_new) {
  // A file in the user's home may be a link into a dotfiles repository:
  // the link stays and its target gets the text. Below a confined
  // directory nothing is followed.
  const std::optional<std::filesystem::path> resolved = core::is_confined(file) ? file : link_target(file);
  if (!resolved) throw core::OSError("resolve the link " + file.string(), ELOOP);
  const std::filesystem::path& target = *resolved;
  struct stat before {};
  const mode_t mode = ::stat(target.c_str(), &before) == 0 ? (before.st_mode & 07777) : mode_when_new;
  if (target.has_parent_path()) core::make_dirs(target.parent_path());
  // The atomic replace leaves the new file private (600); the user's file
  // gets its own permissions back, an executable hook its execute bits.
  core::replace_file_atomically(target, text);
  if (::chmod(target.c_str(), mode) != 0) throw core::OSError("chmod " + target.string(), errno);
}

void remove(const std::filesystem::path& file) {
  if (::unlink(file.c_str()) != 0 && errno != ENOENT) throw core::OSError("unlink " + file.string(), errno);
}

}  // namespace tamrik::utils::user_file
