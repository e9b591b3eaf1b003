#include "host/services/credentials.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/json.hpp"
#include "host/services/session_context.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tamrik::services::credentials {

namespace {

using std::filesystem::path;

path credentials_path() {
  const std::optional<path> file = session_context::credentials_file();
  if (!file) {
    throw core::Error("NoConfigDirError",
                      "neither XDG_CONFIG_HOME nor HOME is set, so there is no place for the credentials file; "
                      "set HOME, or use TAMRIK_API_KEY and TAMRIK_API_URL instead");
  }
  return *file;
}

// The parent directories as usual; the credentials directory itself private.
void make_private_dir(const path& dir) {
  core::make_dirs(dir.parent_path());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw core::OSError("mkdir " + dir.string(), errno);
}

}  // namespace

path save_credentials(std::string_view api_key, std::string_view api_url) {
  path file = credentials_path();
  make_private_dir(file.parent_path());
  core::Json stored = core::Json::object();
  stored["api_key"] = api_key;
  stored["api_url"] = api_url;
  // The atomic replace creates the file with mode 600 and keeps it so.
  core::replace_file_atomically(file, core::to_json_compact(stored) + "\n");
  return file;
}

bool remove_credentials() {
  const path file = credentials_path();
  if (::unlink(file.c_str()) == 0) return true;
  if (errno == ENOENT) return false;
  throw core::OSError("unlink " + file.string(), errno);
}

}  // namespace tamrik::services::credentials
